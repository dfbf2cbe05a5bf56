#ifndef XELMD_BASE_SIGN_H
#define XELMD_BASE_SIGN_H

#include <pthread.h>

namespace Base {

// Counting signal: set() adds one, a wait takes one (or, with reset, all).
// The only way one thread waits for another. Any thread. Deadlines are on
// CLOCK_MONOTONIC so a wall-clock step never shortens or stretches a wait.
class Sign {
  public:
    explicit Sign(int count = 0);
    ~Sign();
    Sign(const Sign&) = delete;
    Sign& operator=(const Sign&) = delete;

    // Waits until the count is positive, then takes one.
    void join();
    // Waits at most ms; false (count unchanged) when the deadline passes.
    // With reset the wait consumes every pending signal.
    bool timed_wait(int ms, bool reset);
    // Takes count signals against one deadline; false as soon as it passes
    // (the signals already taken stay taken).
    bool timed_multi_wait(int ms, int count);
    void set();
    void clear();

  private:
    // Waits under the lock until the count is positive or the deadline passes.
    bool wait_until(const struct timespec& deadline);

    pthread_mutex_t mutex_;
    pthread_cond_t cond_;
    int count_;
};

}  // namespace Base

#endif  // XELMD_BASE_SIGN_H

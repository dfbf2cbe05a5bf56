#ifndef XELMD_BASE_MUTEX_H
#define XELMD_BASE_MUTEX_H

#include <pthread.h>

namespace Base {

// A plain lock. Any thread.
class Mutex {
  public:
    Mutex() { pthread_mutex_init(&mutex_, nullptr); }
    ~Mutex() { pthread_mutex_destroy(&mutex_); }
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void enter() { pthread_mutex_lock(&mutex_); }
    void leave() { pthread_mutex_unlock(&mutex_); }

  private:
    pthread_mutex_t mutex_;
};

// Holds a Mutex for the lifetime of a scope.
class MutexGuard {
  public:
    explicit MutexGuard(Mutex& m) : mutex_(m) { mutex_.enter(); }
    ~MutexGuard() { mutex_.leave(); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

  private:
    Mutex& mutex_;
};

}  // namespace Base

#endif  // XELMD_BASE_MUTEX_H

#ifndef XELMD_PARALLEL_THREAD_H
#define XELMD_PARALLEL_THREAD_H

#include <pthread.h>
#include <sched.h>

#include <atomic>

namespace Parallel {

// Owns one POSIX thread and runs before_proc, thread_proc, after_proc and
// exit_proc on it. create/stop/join: the owner's thread; the steps run on the
// new thread; ids and the name may be read from any thread.
class Thread {
  public:
    static const int MAX_NAME = 67;

    // A null name makes the thread unnamed (no start line).
    explicit Thread(const char* name);
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts the thread; with wait, returns only once it runs. cpu_mask, when
    // given, points to a cpu_set_t the thread is bound to. True when started.
    bool create(bool wait, void* cpu_mask);
    static void* run(void* self);
    // The loop leaves at its next test of the running flag.
    void stop();
    bool join();

    static int get_current();
    bool is_current() const { return get_current() == id_.load(std::memory_order_relaxed); }
    // The thread that runs the loop, or any thread before it has started (an
    // owner or a test driving the loop by hand).
    bool is_loop_thread() const {
        int id = id_.load(std::memory_order_relaxed);
        return id == 0 || id == get_current();
    }
    const char* get_name() const { return name_; }
    // Kernel thread id; 0 until the thread has started.
    int get_id() const { return id_.load(std::memory_order_relaxed); }
    bool is_running() const { return running_.load(std::memory_order_acquire); }

  protected:
    // For a loop its owner drives on a thread of its own instead of
    // create(): the calling thread becomes the loop thread and the loop
    // counts as running, so that operations the loop makes on itself run at
    // once instead of waiting for it. False (nothing changed) when a thread
    // was created or claimed already.
    bool claim_loop_thread() {
        int expected = 0;
        if (!id_.compare_exchange_strong(expected, get_current(), std::memory_order_relaxed))
            return false;
        running_.store(true, std::memory_order_release);
        return true;
    }
    void release_loop_thread() {
        running_.store(false, std::memory_order_release);
        id_.store(0, std::memory_order_relaxed);
    }
    virtual void thread_proc();
    // Ends the POSIX thread; nothing after it runs.
    virtual void exit_proc();
    virtual void loop_proc() {}
    virtual void before_proc() {}
    virtual void after_proc() {}

    // Loops test it once per pass; relaxed is enough there, since stop() is
    // followed by join(), which orders everything after the loop.
    bool keep_running() const { return running_.load(std::memory_order_relaxed); }

  private:
    void start();

    std::atomic<bool> running_;
    // Set with the running flag but never cleared, so a thread that stops
    // itself at once cannot leave create(true, ...) waiting for ever.
    std::atomic<bool> started_;
    pthread_t handle_;
    // Read by other threads only to compare with their own id, so a stale 0
    // is harmless: relaxed.
    std::atomic<int> id_;
    char name_[MAX_NAME + 1];
    bool has_mask_;
    cpu_set_t mask_;
};

// A mask of the odd CPUs between the first and the last (both left out);
// returns cpu_count, or 0 when it is below 1.
long init_general_cpu_set(cpu_set_t* set, long cpu_count);

}  // namespace Parallel

#endif  // XELMD_PARALLEL_THREAD_H

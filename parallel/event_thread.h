#ifndef XELMD_PARALLEL_EVENT_THREAD_H
#define XELMD_PARALLEL_EVENT_THREAD_H

#include <atomic>

#include "base/check.h"
#include "base/lf_queue.h"
#include "base/lf_stack.h"
#include "base/notify.h"
#include "base/sign.h"
#include "parallel/thread.h"

namespace Parallel {

class Handler;

// A posted event, recycled through the owning thread's free stack.
struct Event {
    int id;
    Handler* handler;  // null: the event thread itself
    void* arg;
    Base::Sign* done;  // set after the event ran; may be null
};

// A thread with a lock-free inbox of events. add_event and wakeup: any
// thread, lock-free; event_proc: the owning thread only.
class EventThread : public Thread, public Base::NotifyGroup {
  public:
    // The wake-up signal of the idle wait. set: any thread; wait: owner.
    class NotifySign {
      public:
        explicit NotifySign(EventThread* owner) : owner_(owner), last_set_(0), sign_(0) {}
        virtual ~NotifySign() {}
        void set() { sign_.set(); }
        // Up to 10 ms; any number of sets since the last wait cost one wake-up.
        bool wait() { return sign_.timed_wait(IDLE_WAIT_MS, true); }

      private:
        EventThread* owner_;
        unsigned long last_set_;
        Base::Sign sign_;
    };

    static const int IDLE_WAIT_MS = 10;
    // What on_event gives for an id its target does not know.
    static constexpr int UNKNOWN_EVENT = -1;
    static const int EVENTS_PER_PASS = 8;
    // 750 microseconds in clock ticks.
    static const unsigned long BUSY_TICKS = 7500;

    explicit EventThread(const char* name);
    // Only once the loop has ended: queued events are dropped unrun, but
    // their done signs are set so that no requester stays blocked.
    ~EventThread() override;

    // Runs the event at once when called on the owning thread with queued
    // false; otherwise queues it and, if done is given, wakes the owner.
    void add_event(int id, void* arg, Base::Sign* done, Handler* handler, bool queued);
    // Runs up to 8 queued events; true when any ran. Owning thread only.
    bool event_proc();
    // Cross-thread: ends the owner's idle wait. On the owner (or with
    // false): keeps the loop polling for the busy window.
    void wakeup(bool cross_thread) override;
    virtual int on_event(int id, void* arg) = 0;

    unsigned long get_loop_time() const { return loop_time_.load(std::memory_order_relaxed); }
    unsigned long get_busy_until() const { return busy_until_.load(std::memory_order_relaxed); }

  protected:
    // Both are the owner's, but wakeup(false) may legitimately come from
    // elsewhere; relaxed atomics keep that a benign race (a lost update only
    // shortens one busy window).
    void set_loop_time(unsigned long t) { loop_time_.store(t, std::memory_order_relaxed); }
    void set_busy_until(unsigned long t) { busy_until_.store(t, std::memory_order_relaxed); }
    NotifySign* get_notify_sign() const { return notify_sign_; }
    // Loop steps and event callbacks: the loop thread only.
    void check_thread() const { XELMD_CHECK(is_loop_thread(), "called off the loop thread"); }

  private:
    void dispatch(int id, void* arg, Handler* handler);

    std::atomic<unsigned long> busy_until_;
    std::atomic<unsigned long> loop_time_;
    NotifySign* notify_sign_;
    Base::LFQueue* queue_;
    Base::LFStack* free_events_;
};

}  // namespace Parallel

#endif  // XELMD_PARALLEL_EVENT_THREAD_H

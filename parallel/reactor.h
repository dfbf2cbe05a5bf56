#ifndef XELMD_PARALLEL_REACTOR_H
#define XELMD_PARALLEL_REACTOR_H

#include <atomic>

#include "base/heap.h"
#include "base/lf_stack.h"
#include "parallel/event_thread.h"
#include "parallel/handler.h"
#include "parallel/timer.h"

namespace Base {
class List;
}

namespace Parallel {

// An event thread that drives posted events, polled handlers and timers on
// its one thread. Public operations: any thread (each becomes an event;
// synchronous ones wait until the reactor thread has run it). Everything
// else: the reactor thread only.
class Reactor : public EventThread {
  public:
    // The runtime's own event ids; users post outside 11..24.
    enum {
        EVENT_ADD_TIMER = 11,
        EVENT_REMOVE_TIMER = 12,
        EVENT_ENABLE_TIMER_AT_ONCE = 13,
        EVENT_ENABLE_TIMER = 14,
        EVENT_DISABLE_TIMER = 15,
        EVENT_ADD_HANDLER = 16,
        EVENT_REMOVE_HANDLER = 17,
        EVENT_ENABLE_HANDLER = 18,
        EVENT_DISABLE_HANDLER = 19,
        EVENT_NOTIFY = 20,
    };
    static const int TIMERS_PER_PASS = 8;

    explicit Reactor(const char* name);
    // Only once the loop has ended. Frees the timer records and destroys
    // every handler still linked.
    ~Reactor() override;

    // The record stays valid until remove_timer. interval in microseconds.
    Timer* add_timer(int id, int interval, bool enabled, Handler* handler, bool at_once);
    void remove_timer(Timer* timer);  // synchronous
    void enable_timer(Timer* timer, bool at_once);
    void disable_timer(Timer* timer);  // synchronous
    void add_handler(Handler* handler);
    void remove_handler(Handler* handler);  // synchronous
    void enable_handler(Handler* handler);
    void disable_handler(Handler* handler);  // synchronous
    // Wakes (wakeup(false)) every Base::Notify held by the list's nodes.
    void notify(Base::List* list) override;

    // -1 for an unknown id, else 0.
    int on_event(int id, void* arg) override;
    virtual bool on_timer(int id) {
        (void)id;
        return false;
    }

    // One pass of the loop at the given loop time: events, handlers and
    // timers; when none of them worked and the busy window is over, the
    // handlers' idle work or, when they had none, the idle wait. True when
    // the pass worked or was woken, which keeps the busy window open; false
    // clears it. The thread procedure calls it with the clock; tests call it
    // with chosen times. Reactor thread only.
    virtual bool run_pass(unsigned long loop_time);
    // Fires due timers, at most 8 heap entries; false when nothing was due.
    bool timer_proc();
    // Polls the active handlers, then rotates them; true when any worked.
    bool handler_proc();
    // Offers each active handler its idle work; true when any did some.
    bool idle_proc();
    bool has_timers() const { return heap_->get_count() > 0; }
    // Handlers linked, active or parked (the divider not counted); a
    // snapshot when read from another thread.
    int get_handler_count() const { return handlers_.count(); }

  protected:
    // begin_loop, run_pass until stopped, end_loop.
    void thread_proc() override;
    // What the loop needs registered on its own thread before the first pass
    // and released after the last.
    virtual void begin_loop() {}
    virtual void end_loop() {}

  private:
    void post(int id, void* arg) { add_event(id, arg, nullptr, nullptr, false); }
    void post_and_wait(int id, void* arg);
    void schedule(Timer* timer, unsigned long due);
    void enable_timer_now(Timer* timer, bool at_once);
    void remove_timer_now(Timer* timer);
    void fire(const TimerEntry& entry);
    int on_handler_event(int id, Handler* handler);
    void notify_now(Base::List* list);

    unsigned long timer_generation_;
    Base::Heap* heap_;
    Base::LFStack* free_timers_;
    // Every record ever made, so that destruction frees them all.
    Base::LFStack* all_timers_;
    Handler head_;
    Handler* divider_;
    RingList<Handler> handlers_;
};

}  // namespace Parallel

#endif  // XELMD_PARALLEL_REACTOR_H

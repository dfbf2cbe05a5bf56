#ifndef XELMD_PARALLEL_HANDLER_H
#define XELMD_PARALLEL_HANDLER_H

#include "parallel/ring.h"

namespace Parallel {

class Reactor;

// Polled work and the target of events and timers. Its callbacks run on the
// reactor thread it was added to, one at a time.
class Handler {
  public:
    Handler() : prev_(this), next_(this), last_active_(0), notify_(false) {}
    virtual ~Handler() {}
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;

    // Polled once per pass while active; true when it did work.
    virtual bool on_invoke() { return false; }
    virtual int on_event(int id, void* arg) {
        (void)id;
        (void)arg;
        return 0;
    }
    // True keeps the timer armed.
    virtual bool on_timer(int id) {
        (void)id;
        return false;
    }
    // Work that should not sit in front of arriving data: called while
    // active when the loop found nothing to do and would go to sleep. True
    // when it did some; the loop then looks for data once more before it
    // sleeps and calls again, so a long task is best done in slices.
    virtual bool on_idle() { return false; }

    // Loop time of its last work or enabling; 0 while parked.
    unsigned long get_last_active() const { return last_active_; }
    bool is_notify() const { return notify_; }
    void set_notify(bool notify) { notify_ = notify; }
    bool is_linked() const { return Ring<Handler>::is_linked(this); }

  private:
    friend struct Ring<Handler>;
    friend class RingList<Handler>;
    friend class Reactor;

    Handler* prev_;
    Handler* next_;
    unsigned long last_active_;
    bool notify_;
};

}  // namespace Parallel

#endif  // XELMD_PARALLEL_HANDLER_H

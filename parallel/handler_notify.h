#ifndef XELMD_PARALLEL_HANDLER_NOTIFY_H
#define XELMD_PARALLEL_HANDLER_NOTIFY_H

#include "base/notify.h"

namespace Parallel {

class Handler;
class Reactor;

// Registers a handler with producers: it belongs to the reactor's notify
// group, so a producer wakes the reactor through the group. Any thread.
class HandlerNotify : public Base::Notify {
  public:
    // Marks the handler as notified; a null reactor leaves it in no group.
    HandlerNotify(Reactor* reactor, Handler* handler);

    // The group's wake-up does the work; nothing to do per handler.
    void wakeup(bool cross_thread) override { (void)cross_thread; }

    Reactor* get_reactor() const { return reactor_; }
    Handler* get_handler() const { return handler_; }

  private:
    Reactor* reactor_;
    Handler* handler_;
};

}  // namespace Parallel

#endif  // XELMD_PARALLEL_HANDLER_NOTIFY_H

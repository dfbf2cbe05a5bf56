#ifndef XELMD_PARALLEL_FD_NOTIFY_H
#define XELMD_PARALLEL_FD_NOTIFY_H

#include "base/notify.h"

namespace Parallel {

class Fd;
class FdReactor;

// Registers a descriptor with producers (the flows a channel reads), so an
// append wakes the descriptor's reactor through its notify group. Any
// thread.
class FdNotify : public Base::Notify {
  public:
    // Marks the descriptor as notified; a null reactor leaves it in no group.
    FdNotify(FdReactor* reactor, Fd* fd);

    // The group's wake-up does the work; nothing to do per descriptor.
    void wakeup(bool cross_thread) override { (void)cross_thread; }

    FdReactor* get_reactor() const { return reactor_; }
    Fd* get_fd() const { return fd_; }

  private:
    FdReactor* reactor_;
    Fd* fd_;
};

}  // namespace Parallel

#endif  // XELMD_PARALLEL_FD_NOTIFY_H

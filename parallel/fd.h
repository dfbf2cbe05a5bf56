#ifndef XELMD_PARALLEL_FD_H
#define XELMD_PARALLEL_FD_H

#include "parallel/ring.h"

namespace Parallel {

class FdReactor;

// A descriptor driven by an FdReactor: read() on readiness, write() polled
// every pass while active. Its callbacks run on the reactor thread; they may
// remove descriptors (their own included) but must not destroy their own
// object, which the reactor still touches when they return.
class Fd {
  public:
    virtual ~Fd() {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    // Negative: failure; the reactor does nothing more for this event.
    virtual int read() { return 0; }
    // 0: progress; -1: would block (parks it until writable); else idle.
    virtual int write() { return 0; }
    virtual void get_id(int& read_id, int& write_id) const { read_id = write_id = 0; }
    // The descriptor to watch; below 1 for none.
    virtual int get_id() const { return 0; }

    unsigned long get_last_active() const { return last_active_; }
    bool is_notify() const { return notify_; }
    void set_notify(bool notify) { notify_ = notify; }
    // While set, set_blocking leaves reading out of the event mask.
    bool is_read_blocked() const { return read_blocked_; }
    void set_read_blocked(bool blocked) { read_blocked_ = blocked; }
    bool is_linked() const { return Ring<Fd>::is_linked(this); }

  protected:
    Fd() : prev_(this), next_(this), last_active_(0), notify_(false), read_blocked_(false) {}

  private:
    friend struct Ring<Fd>;
    friend class RingList<Fd>;
    friend class FdReactor;

    Fd* prev_;
    Fd* next_;
    unsigned long last_active_;
    bool notify_;
    bool read_blocked_;
};

}  // namespace Parallel

#endif  // XELMD_PARALLEL_FD_H

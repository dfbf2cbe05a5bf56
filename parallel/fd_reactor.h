#ifndef XELMD_PARALLEL_FD_REACTOR_H
#define XELMD_PARALLEL_FD_REACTOR_H

#include <sys/epoll.h>

#include <atomic>

#include "parallel/fd.h"
#include "parallel/reactor.h"

namespace Parallel {

// A reactor that also drives descriptors through epoll: reading by
// readiness, writing polled each pass, a blocked writer parked until epoll
// reports it writable. add_fd, remove_fd, set_blocking and wakeup: any
// thread; the rest: the reactor thread only.
class FdReactor : public Reactor {
  public:
    enum {
        EVENT_ADD_FD = 21,
        EVENT_REMOVE_FD = 22,
        EVENT_ACTIVATE_FD = 23,
        EVENT_PARK_FD = 24,
    };
    static const int MAX_EVENTS = 8192;
    // on_event's result for a descriptor epoll refused.
    static constexpr int REFUSED = -2;

    // The eventfd through which other threads wake the loop; also the
    // divider between active and parked descriptors.
    class NotifyFd : public Fd {
      public:
        explicit NotifyFd(FdReactor* owner);
        ~NotifyFd() override;
        // Drains the counter, so any number of wake-ups cost one cycle.
        int read() override;
        int write() override;
        void get_id(int& read_id, int& write_id) const override {
            read_id = fd_;
            write_id = 0;
        }
        int get_id() const override { return fd_; }

      private:
        FdReactor* owner_;
        int fd_;
        unsigned long buffer_;
    };

    explicit FdReactor(const char* name);
    // Only once the loop has ended; destroys every descriptor still linked.
    ~FdReactor() override;

    void add_fd(Fd* fd);
    void remove_fd(Fd* fd);  // synchronous
    // Rewrites the epoll mask: reading unless read-blocked, writing if asked.
    // 0, or -1 when epoll refuses (the descriptor was closed too early).
    int set_blocking(Fd* fd, bool write_blocked);
    void wakeup(bool cross_thread) override;
    // Events 21..24 here, the others as Reactor::on_event. Adding or
    // removing a descriptor that epoll refuses gives REFUSED (and a line on
    // standard error); a refused descriptor is not added.
    int on_event(int id, void* arg) override;
    // One write sweep and one epoll wait; true when anything happened.
    // Before a blocking wait the handlers' idle work runs, and when some
    // did, the wait does not block.
    bool fd_proc(bool busy);
    // As Reactor::run_pass, with the descriptors' cycle as the idle wait:
    // epoll_wait blocks up to 10 ms only when nothing else worked and the
    // busy window is over.
    bool run_pass(unsigned long loop_time) override;
    // Descriptors linked, the notify descriptor included; a snapshot when
    // read from another thread.
    int get_fd_count() const { return fds_.count(); }

  protected:
    // The notify descriptor is the first entry and the divider of the list.
    // A loop driven without create() claims its thread for its duration.
    void begin_loop() override {
        claimed_ = claim_loop_thread();
        add_now(notify_fd_);
    }
    void end_loop() override {
        remove_now(notify_fd_);
        if (claimed_) release_loop_thread();
        claimed_ = false;
    }
    NotifyFd* get_notify_fd() const { return notify_fd_; }

  private:
    // A list head that is never a real descriptor.
    struct Head : Fd {};

    int add_now(Fd* fd);
    int remove_now(Fd* fd);
    void write_sweep(bool& busy);
    void dispatch(int count);

    Head head_;
    NotifyFd* notify_fd_;
    RingList<Fd> fds_;
    int epoll_fd_;
    // Position in events_ while dispatching, so that a descriptor removed
    // by a callback is not handed the rest of this cycle's events.
    int event_index_;
    int event_count_;
    bool claimed_;
    epoll_event events_[MAX_EVENTS];
};

}  // namespace Parallel

#endif  // XELMD_PARALLEL_FD_REACTOR_H

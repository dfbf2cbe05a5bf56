#include "parallel/fd_reactor.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "base/check.h"
#include "base/trace.h"

namespace Parallel {

namespace {

using FdRing = Ring<Fd>;

// A reactor without its epoll instance or its wake-up descriptor cannot run
// at all, and the constructor has no result to report it by.
int make_epoll() {
    int fd = epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0) Base::fail_system("epoll_create1");
    return fd;
}

int make_eventfd() {
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) Base::fail_system("eventfd");
    return fd;
}

// epoll_ctl for fd; prints the refusal and returns -1 when the kernel
// refuses (a descriptor closed too early, or one that cannot be polled).
int control(int epoll_fd, int op, Fd* fd, int id, unsigned int mask) {
    epoll_event ev = {};
    ev.events = mask;
    ev.data.ptr = fd;
    if (epoll_ctl(epoll_fd, op, id, &ev) == 0) return 0;
    const char* name = op == EPOLL_CTL_ADD ? "add" : op == EPOLL_CTL_DEL ? "del" : "mod";
    fprintf(stderr, "ERR! epoll_ctl %s [%d] failed: [%s]\n", name, id, strerror(errno));
    return -1;
}

}  // namespace

FdReactor::NotifyFd::NotifyFd(FdReactor* owner) : owner_(owner), fd_(make_eventfd()), buffer_(0) {}

FdReactor::NotifyFd::~NotifyFd() {
    if (fd_ >= 0) close(fd_);
}

int FdReactor::NotifyFd::read() {
    // An empty counter (EAGAIN) is as good as a drained one; anything else
    // means the descriptor is gone and no wake-up would ever arrive.
    if (::read(fd_, &buffer_, sizeof(buffer_)) < 0 && errno != EAGAIN)
        Base::fail_system("eventfd read");
    return 0;
}

int FdReactor::NotifyFd::write() {
    // A saturated counter (EAGAIN) already wakes the reader.
    unsigned long one = 1;
    if (::write(fd_, &one, sizeof(one)) < 0 && errno != EAGAIN) Base::fail_system("eventfd write");
    return 0;
}

FdReactor::FdReactor(const char* name)
    : Reactor(name),
      notify_fd_(new NotifyFd(this)),
      fds_(&head_, notify_fd_),
      epoll_fd_(make_epoll()),
      event_index_(0),
      event_count_(0),
      claimed_(false) {}

FdReactor::~FdReactor() {
    close(epoll_fd_);  // nothing is left to do about a failed close
    fds_.remove(notify_fd_);
    delete notify_fd_;
    fds_.destroy_all();
}

void FdReactor::add_fd(Fd* fd) {
    if (fd != nullptr) add_event(EVENT_ADD_FD, fd, nullptr, nullptr, false);
}

void FdReactor::remove_fd(Fd* fd) {
    if (fd == nullptr) return;
    Base::Sign done(0);
    add_event(EVENT_REMOVE_FD, fd, &done, nullptr, false);
    done.join();
}

int FdReactor::set_blocking(Fd* fd, bool write_blocked) {
    if (fd == nullptr) return 0;
    int id = fd->get_id();
    if (id < 1) return 0;
    unsigned int mask = 0;
    if (!fd->is_read_blocked()) mask |= EPOLLIN;
    if (write_blocked) mask |= EPOLLOUT;
    return control(epoll_fd_, EPOLL_CTL_MOD, fd, id, mask);
}

void FdReactor::wakeup(bool cross_thread) {
    if (cross_thread && !is_current())
        notify_fd_->write();
    else
        set_busy_until(get_loop_time() + BUSY_TICKS);
}

int FdReactor::on_event(int id, void* arg) {
    if (id < EVENT_ADD_FD || id > EVENT_PARK_FD) return Reactor::on_event(id, arg);
    check_thread();
    Fd* fd = static_cast<Fd*>(arg);
    if (fd == nullptr) return 0;
    switch (id) {
        case EVENT_ADD_FD:
            return add_now(fd);
        case EVENT_REMOVE_FD:
            return remove_now(fd);
        case EVENT_ACTIVATE_FD:
            fds_.activate(fd, get_loop_time());
            break;
        default:
            fds_.park(fd);
            break;
    }
    return 0;
}

int FdReactor::add_now(Fd* fd) {
    if (FdRing::is_linked(fd)) return 0;  // already in a list
    int id = fd->get_id();
    // A descriptor epoll refuses stays out of the list: linked, it would be
    // offered write() but never read.
    if (id >= 1 && control(epoll_fd_, EPOLL_CTL_ADD, fd, id, EPOLLIN) != 0) return REFUSED;
    fds_.add(fd);
    return 0;
}

int FdReactor::remove_now(Fd* fd) {
    if (!FdRing::is_linked(fd)) return 0;
    int id = fd->get_id();
    // The descriptor leaves the list even when epoll refuses (it was closed
    // before its removal, which already took it out of epoll).
    int result = id >= 1 && control(epoll_fd_, EPOLL_CTL_DEL, fd, id, 0) != 0 ? REFUSED : 0;
    fds_.remove(fd);
    for (int i = event_index_ + 1; i < event_count_; ++i)
        if (events_[i].data.ptr == fd) events_[i].events = 0;
    return result;
}

void FdReactor::write_sweep(bool& busy) {
    Fd* fd = fds_.front();
    while (!fds_.is_end(fd)) {
        Fd* next = fd->next_;
        int result = fd->write();
        if (result == 0) {
            Base::Trace::note(Base::Trace::SENT);
            fd->last_active_ = get_loop_time();
            busy = true;
        } else if (result == -1) {
            set_blocking(fd, true);
            fds_.park(fd);
        }
        // A callback that unlinked the next descriptor leaves nowhere to go
        // on from; the rest waits for the next pass.
        if (!FdRing::is_linked(next)) break;
        fd = next;
    }
    fds_.rotate();
}

void FdReactor::dispatch(int count) {
    event_count_ = count;
    for (event_index_ = 0; event_index_ < count; ++event_index_) {
        const epoll_event& ev = events_[event_index_];
        Fd* fd = static_cast<Fd*>(ev.data.ptr);
        unsigned int mask = ev.events;
        if (mask & (EPOLLIN | EPOLLERR)) {
            if (fd->read() < 0) continue;
            fd->last_active_ = get_loop_time();
        }
        if ((mask & EPOLLOUT) && FdRing::is_linked(fd)) {
            set_blocking(fd, false);
            fds_.activate(fd, get_loop_time());
        }
    }
    event_index_ = 0;
    event_count_ = 0;
}

bool FdReactor::fd_proc(bool busy) {
    check_thread();
    write_sweep(busy);
    int timeout = 0;
    // About to sleep: idle work first, and having done some, one more look
    // without waiting, so that data that came meanwhile is not left lying.
    if (!busy && get_busy_until() < get_loop_time()) {
        if (idle_proc())
            busy = true;
        else
            timeout = IDLE_WAIT_MS;
    }
    if (timeout > 0) Base::Trace::note(Base::Trace::SLEEP, static_cast<unsigned long>(timeout));
    int n = epoll_wait(epoll_fd_, events_, MAX_EVENTS, timeout);
    if (timeout > 0)
        Base::Trace::note(Base::Trace::WAKE, n > 0 ? static_cast<unsigned long>(n) : 0);
    else if (n > 0)
        Base::Trace::note(Base::Trace::READY, static_cast<unsigned long>(n));
    // A signal only cuts the wait short; any other failure means the epoll
    // instance is unusable and the loop would spin without waiting.
    if (n < 0 && errno != EINTR) Base::fail_system("epoll_wait");
    if (n <= 0) return busy;
    dispatch(n);
    return true;
}

bool FdReactor::run_pass(unsigned long loop_time) {
    check_thread();
    Base::Trace::note(Base::Trace::PASS);
    set_loop_time(loop_time);
    bool ran_events = event_proc();
    if (ran_events) Base::Trace::note(Base::Trace::EVENTS);
    bool handlers_worked = handler_proc();
    bool worked;
    if (ran_events || handlers_worked) {
        if (has_timers()) timer_proc();
        worked = fd_proc(true);
    } else {
        // Fired timers also make the cycle non-blocking.
        worked = fd_proc(has_timers() && timer_proc());
    }
    if (worked)
        wakeup(false);
    else
        set_busy_until(0);
    return worked;
}

}  // namespace Parallel

#include "parallel/fd_reactor.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "base/measure.h"

namespace Parallel {

namespace {

using FdRing = Ring<Fd>;

const int EPOLL_SIZE_HINT = 8192;

}  // namespace

FdReactor::NotifyFd::NotifyFd(FdReactor* owner) : owner_(owner), fd_(eventfd(0, 0)), buffer_(0) {
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

FdReactor::NotifyFd::~NotifyFd() {
    if (fd_ >= 0) close(fd_);
}

int FdReactor::NotifyFd::read() {
    ssize_t n = ::read(fd_, &buffer_, sizeof(buffer_));
    (void)n;  // an empty counter (EAGAIN) is as good as a drained one
    return 0;
}

int FdReactor::NotifyFd::write() {
    unsigned long one = 1;
    ssize_t n = ::write(fd_, &one, sizeof(one));
    (void)n;  // a saturated counter already wakes the reader
    return 0;
}

FdReactor::FdReactor(const char* name)
    : Reactor(name),
      fd_count_(0),
      notify_fd_(new NotifyFd(this)),
      epoll_fd_(epoll_create(EPOLL_SIZE_HINT)),
      event_index_(0),
      event_count_(0) {}

FdReactor::~FdReactor() {
    if (epoll_fd_ >= 0) close(epoll_fd_);
    if (FdRing::is_linked(notify_fd_)) FdRing::remove(notify_fd_);
    delete notify_fd_;
    while (FdRing::is_linked(&head_)) {
        Fd* fd = head_.next_;
        FdRing::remove(fd);
        delete fd;
    }
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

void FdReactor::set_blocking(Fd* fd, bool write_blocked) {
    if (fd == nullptr) return;
    int id = fd->get_id();
    if (id < 1) return;
    epoll_event ev = {};
    unsigned int mask = 0;
    if (!fd->is_read_blocked()) mask |= EPOLLIN;
    if (write_blocked) mask |= EPOLLOUT;
    ev.events = mask;
    ev.data.ptr = fd;
    epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, id, &ev);
}

void FdReactor::wakeup(bool cross_thread) {
    if (cross_thread && !is_current())
        notify_fd_->write();
    else
        set_busy_until(get_loop_time() + BUSY_TICKS);
}

int FdReactor::on_event(int id, void* arg) {
    if (id < EVENT_ADD_FD || id > EVENT_PARK_FD) return Reactor::on_event(id, arg);
    Fd* fd = static_cast<Fd*>(arg);
    if (fd == nullptr) return 0;
    switch (id) {
        case EVENT_ADD_FD:
            add_now(fd);
            break;
        case EVENT_REMOVE_FD:
            remove_now(fd);
            break;
        case EVENT_ACTIVATE_FD:
            activate_now(fd);
            break;
        default:
            park_now(fd);
            break;
    }
    return 0;
}

void FdReactor::add_now(Fd* fd) {
    if (FdRing::is_linked(fd)) return;  // already in a list
    FdRing::insert_before(fd, head_.next_);
    fd_count_.fetch_add(1, std::memory_order_relaxed);
    int id = fd->get_id();
    if (id < 1) return;
    epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.ptr = fd;
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, id, &ev);
}

void FdReactor::remove_now(Fd* fd) {
    if (!FdRing::is_linked(fd)) return;
    int id = fd->get_id();
    if (id >= 1) {
        epoll_event ev = {};
        epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, id, &ev);
    }
    FdRing::remove(fd);
    fd_count_.fetch_sub(1, std::memory_order_relaxed);
    for (int i = event_index_ + 1; i < event_count_; ++i)
        if (events_[i].data.ptr == fd) events_[i].events = 0;
}

void FdReactor::activate_now(Fd* fd) {
    if (!FdRing::is_linked(fd)) return;
    FdRing::move_before(fd, head_.next_);
    fd->last_active_ = get_loop_time();
}

void FdReactor::park_now(Fd* fd) {
    if (!FdRing::is_linked(fd)) return;
    FdRing::move_before(fd, &head_);
    fd->last_active_ = 0;
}

void FdReactor::write_sweep(bool& busy) {
    Fd* fd = head_.next_;
    while (fd != notify_fd_ && fd != &head_) {
        Fd* next = fd->next_;
        int result = fd->write();
        if (result == 0) {
            fd->last_active_ = get_loop_time();
            busy = true;
        } else if (result == -1) {
            set_blocking(fd, true);
            park_now(fd);
        }
        // A callback that unlinked the next descriptor leaves nowhere to go
        // on from; the rest waits for the next pass.
        if (!FdRing::is_linked(next)) break;
        fd = next;
    }
    Fd* first = head_.next_;
    if (first != notify_fd_ && first != &head_) FdRing::move_before(first, notify_fd_);
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
            activate_now(fd);
        }
    }
    event_index_ = 0;
    event_count_ = 0;
}

bool FdReactor::fd_proc(bool busy) {
    write_sweep(busy);
    int timeout = 0;
    if (!busy && get_busy_until() < get_loop_time()) timeout = IDLE_WAIT_MS;
    int n = epoll_wait(epoll_fd_, events_, MAX_EVENTS, timeout);
    if (n <= 0) return busy;
    dispatch(n);
    return true;
}

void FdReactor::thread_proc() {
    add_now(notify_fd_);
    while (keep_running()) {
        set_loop_time(Base::Measure::get_clock());
        bool ran_events = event_proc();
        bool handlers_worked = handler_proc();
        bool worked;
        if (ran_events || handlers_worked) {
            if (has_timers()) timer_proc();
            worked = fd_proc(true);
        } else {
            worked = fd_proc(has_timers() && timer_proc());
        }
        if (worked)
            wakeup(false);
        else
            set_busy_until(0);
    }
    remove_now(notify_fd_);
}

}  // namespace Parallel

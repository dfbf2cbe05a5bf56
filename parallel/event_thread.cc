#include "parallel/event_thread.h"

#include "parallel/handler.h"

namespace Parallel {

namespace {

const int INBOX_PREALLOC = 1024;

}  // namespace

static_assert(sizeof(Event) == 32, "event records are 32 bytes");

EventThread::EventThread(const char* name)
    : Thread(name),
      busy_until_(0),
      loop_time_(0),
      notify_sign_(new NotifySign(this)),
      queue_(new Base::LFQueue(INBOX_PREALLOC)),
      free_events_(new Base::LFStack(INBOX_PREALLOC)) {}

EventThread::~EventThread() {
    while (Event* e = static_cast<Event*>(free_events_->pop())) delete e;
    while (Event* e = static_cast<Event*>(queue_->pop())) {
        if (e->done != nullptr) e->done->set();
        delete e;
    }
    delete queue_;
    delete free_events_;
    delete notify_sign_;
}

void EventThread::dispatch(int id, void* arg, Handler* handler) {
    if (handler != nullptr) {
        handler->on_event(id, arg);
        return;
    }
    // Users address their own events to their handler; one the thread itself
    // does not know was posted to the wrong target.
    int result = on_event(id, arg);
    XELMD_CHECK(result != UNKNOWN_EVENT, "event id unknown to the thread it was posted to");
    (void)result;
}

void EventThread::add_event(int id, void* arg, Base::Sign* done, Handler* handler, bool queued) {
    if (!queued && is_current()) {
        dispatch(id, arg, handler);
        if (done != nullptr) done->set();
        return;
    }
    Event* e = static_cast<Event*>(free_events_->pop());
    if (e == nullptr) e = new Event();
    e->id = id;
    e->handler = handler;
    e->arg = arg;
    e->done = done;
    queue_->push(e);
    if (done != nullptr) wakeup(true);
}

bool EventThread::event_proc() {
    check_thread();
    int ran = 0;
    while (ran < EVENTS_PER_PASS) {
        Event* e = static_cast<Event*>(queue_->pop());
        if (e == nullptr) break;
        // The sign lives on the requester's stack and may vanish as soon as
        // it is set, so the record goes back first and the sign is set last.
        Base::Sign* done = e->done;
        dispatch(e->id, e->arg, e->handler);
        free_events_->push(e);
        if (done != nullptr) done->set();
        ++ran;
    }
    return ran > 0;
}

void EventThread::wakeup(bool cross_thread) {
    if (cross_thread && !is_current())
        notify_sign_->set();
    else
        set_busy_until(get_loop_time() + BUSY_TICKS);
}

}  // namespace Parallel

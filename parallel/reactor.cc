#include "parallel/reactor.h"

#include "base/list.h"
#include "base/measure.h"
#include "base/notify.h"
#include "base/trace.h"

namespace Parallel {

namespace {

using HandlerRing = Ring<Handler>;

// Microseconds to clock ticks.
unsigned long interval_ticks(int interval) {
    return interval > 0 ? static_cast<unsigned long>(interval) * 10 : 0;
}

}  // namespace

Reactor::Reactor(const char* name)
    : EventThread(name),
      timer_generation_(0),
      heap_(new Base::Heap(compare_timer, sizeof(TimerEntry), 0, 1, nullptr)),
      free_timers_(new Base::LFStack(0)),
      all_timers_(new Base::LFStack(0)),
      divider_(new Handler()),
      handlers_(&head_, divider_) {
    HandlerRing::insert_before(divider_, &head_);
}

Reactor::~Reactor() {
    delete heap_;
    delete free_timers_;
    while (Timer* t = static_cast<Timer*>(all_timers_->pop())) delete t;
    delete all_timers_;
    HandlerRing::remove(divider_);
    delete divider_;
    handlers_.destroy_all();
}

void Reactor::post_and_wait(int id, void* arg) {
    Base::Sign done(0);
    add_event(id, arg, &done, nullptr, false);
    done.join();
}

Timer* Reactor::add_timer(int id, int interval, bool enabled, Handler* handler, bool at_once) {
    Timer* t = static_cast<Timer*>(free_timers_->pop());
    if (t == nullptr) {
        t = new Timer();
        all_timers_->push(t);
    }
    t->id = id;
    t->handler = handler;
    t->interval = interval;
    t->set_generation(0);
    t->at_once = at_once;
    t->set_enabled(enabled);
    post(EVENT_ADD_TIMER, t);
    return t;
}

void Reactor::remove_timer(Timer* timer) {
    if (timer != nullptr) post_and_wait(EVENT_REMOVE_TIMER, timer);
}

void Reactor::enable_timer(Timer* timer, bool at_once) {
    XELMD_CHECK(timer != nullptr, "null timer");
    if (timer != nullptr) post(at_once ? EVENT_ENABLE_TIMER_AT_ONCE : EVENT_ENABLE_TIMER, timer);
}

void Reactor::disable_timer(Timer* timer) {
    XELMD_CHECK(timer != nullptr, "null timer");
    if (timer != nullptr) post_and_wait(EVENT_DISABLE_TIMER, timer);
}

void Reactor::add_handler(Handler* handler) {
    if (handler != nullptr) post(EVENT_ADD_HANDLER, handler);
}

void Reactor::remove_handler(Handler* handler) {
    if (handler != nullptr) post_and_wait(EVENT_REMOVE_HANDLER, handler);
}

void Reactor::enable_handler(Handler* handler) {
    if (handler != nullptr) post(EVENT_ENABLE_HANDLER, handler);
}

void Reactor::disable_handler(Handler* handler) {
    if (handler != nullptr) post_and_wait(EVENT_DISABLE_HANDLER, handler);
}

void Reactor::notify(Base::List* list) {
    if (list != nullptr) post(EVENT_NOTIFY, list);
}

void Reactor::schedule(Timer* timer, unsigned long due) {
    TimerEntry entry = {timer, timer->get_generation(), due};
    heap_->push(&entry);
}

void Reactor::enable_timer_now(Timer* timer, bool at_once) {
    if (timer->is_enabled()) return;
    timer->set_generation(++timer_generation_);
    timer->set_enabled(true);
    unsigned long now = get_loop_time();
    schedule(timer, at_once ? now : now + interval_ticks(timer->interval));
}

void Reactor::remove_timer_now(Timer* timer) {
    timer->id = 0;
    timer->handler = nullptr;
    timer->interval = 0;
    timer->set_generation(0);
    timer->at_once = false;
    timer->set_enabled(false);
    free_timers_->push(timer);
}

int Reactor::on_event(int id, void* arg) {
    check_thread();
    if (id < EVENT_ADD_TIMER || id > EVENT_NOTIFY) return UNKNOWN_EVENT;
    if (arg == nullptr) return 0;
    Timer* timer = static_cast<Timer*>(arg);
    switch (id) {
        case EVENT_ADD_TIMER: {
            timer->set_generation(++timer_generation_);
            if (!timer->is_enabled()) return 0;
            unsigned long now = get_loop_time();
            schedule(timer, timer->at_once ? now : now + interval_ticks(timer->interval));
            return 0;
        }
        case EVENT_REMOVE_TIMER:
            remove_timer_now(timer);
            return 0;
        case EVENT_ENABLE_TIMER_AT_ONCE:
        case EVENT_ENABLE_TIMER:
            enable_timer_now(timer, id == EVENT_ENABLE_TIMER_AT_ONCE);
            return 0;
        case EVENT_DISABLE_TIMER:
            timer->set_enabled(false);
            return 0;
        case EVENT_NOTIFY:
            notify_now(static_cast<Base::List*>(arg));
            return 0;
        default:
            return on_handler_event(id, static_cast<Handler*>(arg));
    }
}

int Reactor::on_handler_event(int id, Handler* handler) {
    if (id < EVENT_ADD_HANDLER || id > EVENT_DISABLE_HANDLER) return UNKNOWN_EVENT;
    // Unlinked handlers (or linked ones, for add) are ignored.
    if (id == EVENT_ADD_HANDLER)
        handlers_.add(handler);
    else if (id == EVENT_REMOVE_HANDLER)
        handlers_.remove(handler);
    else if (id == EVENT_ENABLE_HANDLER)
        handlers_.activate(handler, get_loop_time());
    else
        handlers_.park(handler);
    return 0;
}

void Reactor::notify_now(Base::List* list) {
    Base::List::Iterator it(list);
    while (void* data = it.next()) static_cast<Base::Notify*>(data)->wakeup(false);
}

void Reactor::fire(const TimerEntry& entry) {
    Timer* t = entry.timer;
    Base::Trace::note(Base::Trace::TIMER, static_cast<unsigned long>(t->id));
    bool again = t->handler != nullptr ? t->handler->on_timer(t->id) : on_timer(t->id);
    Base::Trace::note(Base::Trace::TIMER_END, static_cast<unsigned long>(t->id));
    // The callback may have removed, disabled or rescheduled its timer; the
    // answer then concerns a scheduling that no longer exists.
    if (t->get_generation() != entry.generation || !t->is_enabled()) return;
    if (again)
        schedule(t, get_loop_time() + interval_ticks(t->interval));
    else
        t->set_enabled(false);
}

bool Reactor::timer_proc() {
    check_thread();
    unsigned long now = get_loop_time();
    int popped = 0;
    while (popped < TIMERS_PER_PASS) {
        const TimerEntry* top = static_cast<const TimerEntry*>(heap_->top());
        if (top == nullptr || top->due > now) break;
        TimerEntry entry = *top;
        heap_->pop();
        ++popped;
        Timer* t = entry.timer;
        if (entry.generation == t->get_generation() && t->is_enabled()) fire(entry);
    }
    return popped > 0;
}

bool Reactor::handler_proc() {
    check_thread();
    Handler* h = handlers_.front();
    if (handlers_.is_end(h)) return false;
    bool worked = false;
    while (!handlers_.is_end(h)) {
        Handler* next = h->next_;
        if (h->on_invoke()) {
            worked = true;
            h->last_active_ = get_loop_time();
        }
        // A callback that unlinked the next handler leaves nowhere to go on
        // from; the rest waits for the next pass.
        if (!HandlerRing::is_linked(next)) break;
        h = next;
    }
    handlers_.rotate();
    return worked;
}

bool Reactor::idle_proc() {
    check_thread();
    bool worked = false;
    Handler* h = handlers_.front();
    while (!handlers_.is_end(h)) {
        Handler* next = h->next_;
        if (h->on_idle()) worked = true;
        if (!HandlerRing::is_linked(next)) break;
        h = next;
    }
    return worked;
}

bool Reactor::run_pass(unsigned long loop_time) {
    check_thread();
    set_loop_time(loop_time);
    bool ran_events = event_proc();
    bool handlers_worked = handler_proc();
    if (ran_events || handlers_worked) {
        if (has_timers()) timer_proc();
        wakeup(false);
        return true;
    }
    bool woken = (has_timers() && timer_proc()) ||
                 (loop_time > get_busy_until() && (idle_proc() || get_notify_sign()->wait()));
    if (woken)
        wakeup(false);
    else
        set_busy_until(0);
    return woken;
}

void Reactor::thread_proc() {
    begin_loop();
    while (keep_running()) run_pass(Base::Measure::get_clock());
    end_loop();
}

}  // namespace Parallel

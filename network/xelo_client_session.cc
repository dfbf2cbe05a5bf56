#include "network/xelo_client_session.h"

#include <stdint.h>
#include <string.h>

#include "base/measure.h"
#include "base/sign.h"
#include "network/xelo_client_channel.h"
#include "network/xelo_flow_reader.h"
#include "parallel/fd_notify.h"
#include "parallel/fd_reactor.h"
#include "parallel/reporter.h"

namespace Network {

namespace {

// Posted by a session being destroyed to a handler that ignores it, so that
// its caller waits until every event queued before has run.
const int EVENT_DRAIN = 1019;

}  // namespace

XeloClientSession::XeloClientSession(Parallel::FdReactor* reactor, ClientSession* parent,
                                     Parallel::Reporter* reporter, Base::DataFlow* log, int factor)
    : ClientSession(reactor, parent, reporter),
      channel_(new XeloClientChannel(reactor, this, reporter, factor)),
      port_(0),
      idle_limit_(DEFAULT_TIMEOUT * TICKS_PER_SECOND),
      applied_heartbeat_(DEFAULT_HEARTBEAT_TIMEOUT) {
    host_[0] = '\0';
    channel_->set_log(log);
    heartbeat_timer_ = reactor->add_timer(TIMER_HEARTBEAT, HEARTBEAT_INTERVAL, false, this, true);
    connect_timer_ = reactor->add_timer(TIMER_CONNECT, CONNECT_INTERVAL, false, this, true);
    buffer_timer_ = reactor->add_timer(TIMER_BUFFER, BUFFER_INTERVAL, false, this, true);
}

XeloClientSession::~XeloClientSession() {
    Parallel::FdReactor* reactor = get_reactor();
    reactor->remove_timer(heartbeat_timer_);
    reactor->remove_timer(connect_timer_);
    reactor->remove_timer(buffer_timer_);
    heartbeat_timer_ = connect_timer_ = buffer_timer_ = nullptr;
    // Closing tells the parent (reason 0) while this object is whole; no
    // timer is left for on_disconnected to touch.
    channel_->close(0);
    if (reactor->is_running() && !reactor->is_current()) {
        // Events queued for this session (1014) must run before it goes.
        Parallel::Handler marker;
        Base::Sign done(0);
        reactor->add_event(EVENT_DRAIN, nullptr, &done, &marker, true);
        done.join();
    }
    delete channel_;
}

bool XeloClientSession::open(const char* host, int port) {
    bool first = port_ == 0;
    size_t length = host != nullptr ? strnlen(host, HOST_SIZE - 1) : 0;
    if (length != 0) memcpy(host_, host, length);
    memset(host_ + length, 0, HOST_SIZE - length);
    port_ = port;
    // Without this a drop soon after connecting would look idle since the
    // channel was made, and the address would be given up.
    channel_->set_last_receive(now());
    get_reactor()->enable_timer(connect_timer_, first);
    return true;
}

bool XeloClientSession::open(int fd) {
    return channel_->create(fd);
}

int XeloClientSession::close(int reason) {
    if (port_ != 0) get_reactor()->disable_timer(connect_timer_);
    if (channel_->is_valid()) channel_->close(reason);
    return reason;
}

void XeloClientSession::publish(Base::DataFlow* flow, unsigned long start,
                                Parallel::FlowRecycler* recycler, ReaderFactory factory,
                                unsigned int* counter) {
    Base::Notify* notify = channel_->get_notify();
    Base::Reportable* log = Parallel::Reporter::get_log(get_reporter());
    Base::DataReader* reader;
    if (factory != nullptr) {
        reader = factory(flow, notify, nullptr, recycler, log);
    } else {
        reader =
            new XeloFlow::DataReader(static_cast<XeloFlow*>(flow), notify, nullptr, recycler, log);
    }
    reader->seek(start);
    channel_->publish(flow, nullptr, nullptr, reader, recycler, counter);
}

void XeloClientSession::subscribe(Base::DataFlow* flow, Filter filter, unsigned long limit,
                                  bool no_sequence_check) {
    channel_->subscribe(flow, filter, limit, no_sequence_check);
    if (limit != 0) get_reactor()->enable_timer(buffer_timer_, true);
}

void XeloClientSession::cancel_publish(Base::DataFlow* flow) {
    channel_->cancel_publish(flow);
}

void XeloClientSession::cancel_subscribe(Base::DataFlow* flow) {
    channel_->cancel_subscribe(flow);
}

void XeloClientSession::enable_compress() {
    channel_->enable_compress();
}

void XeloClientSession::set_read_blocking(bool blocking) {
    channel_->set_read_blocking(blocking);
}

bool XeloClientSession::is_read_blocking() const {
    return channel_->is_read_blocked();
}

unsigned long XeloClientSession::get_idle_timeout() const {
    return channel_->get_idle_timeout();
}

int XeloClientSession::flush() {
    while (channel_->is_valid() && channel_->available()) {
        int result = channel_->write();
        if (result != 0) return result;
    }
    return 0;
}

unsigned int XeloClientSession::clamp_timeout(unsigned int seconds) {
    if (seconds < MIN_TIMEOUT) return MIN_TIMEOUT;
    return seconds > MAX_TIMEOUT ? MAX_TIMEOUT : seconds;
}

unsigned int XeloClientSession::clamp_heartbeat_timeout(unsigned int seconds) {
    if (seconds < MIN_HEARTBEAT_TIMEOUT) return MIN_HEARTBEAT_TIMEOUT;
    return seconds > MAX_HEARTBEAT_TIMEOUT ? MAX_HEARTBEAT_TIMEOUT : seconds;
}

void XeloClientSession::set_timeout(unsigned int seconds) {
    idle_limit_ = clamp_timeout(seconds) * TICKS_PER_SECOND;
}

void XeloClientSession::set_heartbeat_timeout(unsigned int seconds) {
    unsigned int timeout = clamp_heartbeat_timeout(seconds);
    applied_heartbeat_ = timeout;
    idle_limit_ = timeout * TICKS_PER_SECOND;
    channel_->set_heartbeat_timeout(timeout);
}

bool XeloClientSession::is_idle() const {
    // The channel's idle time is already now minus its last receive.
    return is_idle(channel_->get_idle_timeout(), 0, idle_limit_);
}

void XeloClientSession::adopt_peer_timeout() {
    unsigned int timeout = channel_->get_heartbeat_timeout();
    if (timeout == applied_heartbeat_) return;
    applied_heartbeat_ = timeout;
    idle_limit_ = clamp_timeout(timeout + 3) * TICKS_PER_SECOND;
    channel_->set_heartbeat_timeout(timeout);
}

bool XeloClientSession::check_heartbeat() {
    if (!is_idle()) {
        adopt_peer_timeout();
        channel_->send_heartbeat();
        return true;
    }
    // Data may be waiting unread; held-back reading must stay held back.
    if (!channel_->is_read_blocked()) channel_->read();
    if (!is_idle()) return true;
    channel_->close(CLOSE_IDLE);
    return false;
}

bool XeloClientSession::on_connect_timer() {
    // Never two connections from one session.
    if (channel_->is_valid()) return false;
    if (!channel_->connect(host_, port_, 0)) post(EVENT_CONNECT_FAILED, nullptr, this);
    return false;
}

bool XeloClientSession::on_timer(int id) {
    switch (id) {
        case TIMER_HEARTBEAT:
            return channel_->is_valid() && check_heartbeat();
        case TIMER_CONNECT:
            return on_connect_timer();
        case TIMER_BUFFER:
            channel_->check_sub_buffer();
            return true;
        default:
            return false;
    }
}

int XeloClientSession::on_event(int id, void* arg) {
    (void)arg;
    if (id == EVENT_CONNECT_FAILED) {
        if (!channel_->is_valid()) on_connect_failed(this);
        return 0;
    }
    return -1;
}

void XeloClientSession::on_connect_failed(ClientSession* session) {
    if (get_session() != nullptr) {
        get_session()->on_connect_failed(session);
        return;
    }
    get_reactor()->enable_timer(connect_timer_, false);
}

void XeloClientSession::on_connected() {
    get_reactor()->enable_timer(heartbeat_timer_, true);
    ClientSession::on_connected();
}

void XeloClientSession::on_disconnected(int reason) {
    ClientSession::on_disconnected(reason);
    // Null only while the destructor closes the channel.
    if (heartbeat_timer_ == nullptr) return;
    get_reactor()->disable_timer(heartbeat_timer_);
    if (reason == 0) return;
    if (port_ == 0) {
        ClientSession* top = get_top_session();
        if (top->get_handler() != nullptr) post(EVENT_CLIENT_END, top, top->get_handler());
        return;
    }
    if (should_reconnect(reason, channel_->get_idle_timeout(), 0, idle_limit_)) {
        get_reactor()->enable_timer(connect_timer_, false);
    } else {
        post(EVENT_CONNECT_FAILED, nullptr, this);
    }
}

void XeloClientSession::post(int id, void* arg, Parallel::Handler* handler) {
    // Queued even on the reactor thread: the handler must not be re-entered
    // from inside the channel call that caused the event.
    get_reactor()->add_event(id, arg, nullptr, handler, true);
}

unsigned long XeloClientSession::now() const {
    unsigned long loop_time = get_reactor()->get_loop_time();
    return loop_time != 0 ? loop_time : Base::Measure::get_clock();
}

}  // namespace Network

#include "network/xelo_bond_client_session.h"

#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/measure.h"
#include "base/sign.h"
#include "base/socket.h"
#include "network/xelo_client_channel.h"
#include "parallel/fd_reactor.h"
#include "parallel/reporter.h"

namespace Network {

namespace {

const char TAG[] = "XeloBondClientSession";
const int LEVEL_FAILOVER = 2;
const int LEVEL_INFO = 5;
const unsigned long TICKS_PER_MS = 10000UL;

void copy_host(char* out, const char* host) {
    size_t length = host != nullptr ? strnlen(host, XeloBondClientSession::HOST_SIZE - 1) : 0;
    if (length != 0) memcpy(out, host, length);
    memset(out + length, 0, XeloBondClientSession::HOST_SIZE - length);
}

}  // namespace

XeloBondClientSession::XeloBondClientSession(Parallel::FdReactor* reactor, ClientSession* parent,
                                             Parallel::Reporter* reporter, int factor)
    : ClientSession(reactor, parent, reporter),
      factor_(factor),
      current_(-1),
      fens_current_(-1),
      retired_count_(0),
      closing_(false) {
    memset(fronts_, 0, sizeof(fronts_));
    memset(children_, 0, sizeof(children_));
    memset(fens_, 0, sizeof(fens_));
    memset(retired_, 0, sizeof(retired_));
    fens_timer_ = reactor->add_timer(TIMER_FENS, FENS_INTERVAL, false, this, true);
}

XeloBondClientSession::~XeloBondClientSession() {
    // Removal waits for a query in progress to end.
    get_reactor()->remove_timer(fens_timer_);
    // The children are closed on the reactor thread, where failovers run;
    // from then on a failure still queued changes nothing.
    Base::Sign done(0);
    get_reactor()->add_event(EVENT_CLOSING, nullptr, &done, this, false);
    done.join();
    // Each child waits for the events queued for it before it goes.
    for (int i = 0; i < MAX_FRONTS && children_[i] != nullptr; ++i) delete children_[i];
    for (int i = 0; i < retired_count_; ++i) delete retired_[i];
}

bool XeloBondClientSession::open(const char* host, int port) {
    int index = get_front_count();
    if (index == MAX_FRONTS) return false;
    copy_host(fronts_[index].host, host);
    fronts_[index].port = port;
    children_[index] = new XeloClientSession(get_reactor(), this, get_reporter(), nullptr, factor_);
    if (current_ < 0) {
        current_ = 0;
        children_[0]->open(fronts_[0].host, fronts_[0].port);
    }
    return true;
}

bool XeloBondClientSession::register_fens(const char* host, int port) {
    if (port <= 0) return false;
    int index = 0;
    while (index < MAX_FENS && fens_[index].port != 0) ++index;
    if (index == MAX_FENS) return false;
    copy_host(fens_[index].host, host);
    fens_[index].port = port;
    if (fens_current_ < 0) {
        fens_current_ = 0;
        get_reactor()->enable_timer(fens_timer_, true);
    }
    return true;
}

void XeloBondClientSession::close(int reason) {
    for (int i = 0; i < MAX_FRONTS && children_[i] != nullptr; ++i) children_[i]->close(reason);
}

void XeloBondClientSession::publish(Base::DataFlow* flow, unsigned long start,
                                    Parallel::FlowRecycler* recycler,
                                    XeloClientSession::ReaderFactory factory) {
    for (int i = 0; i < MAX_FRONTS && children_[i] != nullptr; ++i) {
        children_[i]->publish(flow, start, recycler, factory, nullptr);
    }
}

void XeloBondClientSession::subscribe(Base::DataFlow* flow, XeloClientSession::Filter filter,
                                      unsigned long limit, bool no_sequence_check) {
    for (int i = 0; i < MAX_FRONTS && children_[i] != nullptr; ++i) {
        children_[i]->subscribe(flow, filter, limit, no_sequence_check);
    }
}

void XeloBondClientSession::cancel_publish(Base::DataFlow* flow) {
    for (int i = 0; i < MAX_FRONTS && children_[i] != nullptr; ++i) {
        children_[i]->cancel_publish(flow);
    }
}

void XeloBondClientSession::cancel_subscribe(Base::DataFlow* flow) {
    for (int i = 0; i < MAX_FRONTS && children_[i] != nullptr; ++i) {
        children_[i]->cancel_subscribe(flow);
    }
}

XeloClientChannel* XeloBondClientSession::get_channel() {
    XeloClientSession* current = get_current();
    return current != nullptr ? current->get_channel() : nullptr;
}

XeloClientSession* XeloBondClientSession::get_current() const {
    return current_ >= 0 ? children_[current_] : nullptr;
}

int XeloBondClientSession::get_front_count() const {
    int count = 0;
    while (count < MAX_FRONTS && children_[count] != nullptr) ++count;
    return count;
}

void XeloBondClientSession::on_connect_failed(ClientSession* session) {
    if (closing_) return;
    if (get_session() != nullptr) get_session()->on_connect_failed(session);
    if (session == this) {
        if (current_ < 0) return next_fens();
        return open_current();
    }
    // Only the current child is ever connecting; a late word from another
    // (one already closed or forgotten) must not skip the front being tried.
    if (current_ < 0 || session != children_[current_]) return;
    report(LEVEL_FAILOVER, "connect failed [%s] [%d]", fronts_[current_].host,
           fronts_[current_].port);
    children_[current_]->close(0);
    ++current_;
    if (current_ == MAX_FRONTS || children_[current_] == nullptr) {
        if (fens_current_ < 0) {
            current_ = 0;
        } else {
            forget_fronts();
            return next_fens();
        }
    }
    open_current();
}

void XeloBondClientSession::open_current() {
    report(LEVEL_FAILOVER, "try connect [%s] [%d]", fronts_[current_].host, fronts_[current_].port);
    children_[current_]->open(fronts_[current_].host, fronts_[current_].port);
}

void XeloBondClientSession::forget_fronts() {
    // Those retired a whole round ago are quiet by now.
    for (int i = 0; i < retired_count_; ++i) delete retired_[i];
    retired_count_ = 0;
    for (int i = 0; i < MAX_FRONTS && children_[i] != nullptr; ++i) {
        children_[i]->close(0);
        retired_[retired_count_++] = children_[i];
        children_[i] = nullptr;
    }
    memset(fronts_, 0, sizeof(fronts_));
    current_ = -1;
}

void XeloBondClientSession::next_fens() {
    // Without any name server there is nobody to ask.
    if (fens_[0].port == 0) return;
    ++fens_current_;
    if (fens_current_ >= MAX_FENS || fens_[fens_current_].port == 0) fens_current_ = 0;
    get_reactor()->enable_timer(fens_timer_, false);
}

int XeloBondClientSession::on_event(int id, void* arg) {
    (void)arg;
    if (id == EVENT_CLOSING) {
        closing_ = true;
        close(0);
        return 0;
    }
    if (id != EVENT_FENS_FAILED) return -1;
    XeloClientChannel* channel = get_channel();
    if (channel == nullptr || channel->get_id() == 0) on_connect_failed(this);
    return 0;
}

bool XeloBondClientSession::on_timer(int id) {
    if (id != TIMER_FENS) return false;
    return query_fens();
}

bool XeloBondClientSession::query_fens() {
    if (fens_current_ < 0) return false;
    const Address& fens = fens_[fens_current_];
    report(LEVEL_INFO, "try fens [%s] [%d]", fens.host, fens.port);
    int length = read_answer(fens.host, fens.port);
    if (length > 0) {
        answer_[length] = '\0';
        if (register_answer(answer_) > 0) return false;
    }
    get_reactor()->add_event(EVENT_FENS_FAILED, nullptr, nullptr, this, true);
    return false;
}

// A name server that trickles its answer is cut off at the query's limit:
// what came by then is used as the answer.
int XeloBondClientSession::read_answer(const char* host, int port) {
    unsigned long end = Base::Measure::get_clock() + FENS_ANSWER_MS * TICKS_PER_MS;
    int fd = Base::tcp_connect(host, port, FENS_ANSWER_MS);
    if (fd < 0) return 0;
    int length = 0;
    while (length < ANSWER_SIZE - 1) {
        unsigned long now = Base::Measure::get_clock();
        if (now >= end) break;
        int left_ms = static_cast<int>((end - now + TICKS_PER_MS - 1) / TICKS_PER_MS);
        if (Base::Socket::select_read(fd, left_ms < FENS_WAIT_MS ? left_ms : FENS_WAIT_MS) < 1)
            break;
        ssize_t n = recv(fd, answer_ + length, static_cast<size_t>(ANSWER_SIZE - 1 - length), 0);
        if (n < 1) break;
        length += static_cast<int>(n);
    }
    ::close(fd);
    return length;
}

int XeloBondClientSession::register_answer(char* text) {
    for (char* p = text; *p != '\0'; ++p) {
        if (*p == '\r') *p = '\n';
    }
    int registered = 0;
    char* line = text;
    while (line != nullptr) {
        char* end = strchr(line, '\n');
        if (end != nullptr) *end = '\0';
        uri_.parse(line);
        if (uri_.get_port() > 0 && uri_.get_host() != nullptr) {
            report(LEVEL_INFO, "get address from fens [%s] [%d]", uri_.get_host(), uri_.get_port());
            if (open(uri_.get_host(), uri_.get_port())) ++registered;
        }
        line = end != nullptr ? end + 1 : nullptr;
    }
    return registered;
}

void XeloBondClientSession::report(int level, const char* format, const char* host, int port) {
    if (get_reporter() != nullptr) get_reporter()->report(level, TAG, format, host, port);
}

}  // namespace Network

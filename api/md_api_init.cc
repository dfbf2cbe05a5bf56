// Start-up, the per-connection state, the one-second timer and shutdown.
#include <pthread.h>

#include <cstdlib>
#include <cstring>

#include "api/md_api.h"
#include "base/data_flow_iterator.h"
#include "base/measure.h"
#include "base/random.h"
#include "base/trace.h"
#include "base/uri.h"
#include "network/xelo_bond_client_session.h"
#include "network/xelo_client_channel.h"
#include "network/xelo_client_session.h"
#include "parallel/fd_reactor.h"

namespace Api {

namespace {

const unsigned int MIB = 1024 * 1024;
const unsigned int LOGIN_BLOCK = MIB;
const unsigned int INIT_BLOCK = MIB;
const unsigned int DIALOGUE_BLOCK = 10 * MIB;
const int TIMER_INTERVAL_US = 1000000;
const int SESSION_FACTOR = 2;
const unsigned short INIT_SUBJECT = 0;
const unsigned short DIALOGUE_SUBJECT = 1;
const int MAX_DRAIN_PASSES = 1000;

}  // namespace

int MdApi::map_disconnect_reason(int reason) {
    switch (reason) {
        case -11:
        case -12:
            return 0x1001;
        case -13:
            return 0x1002;
        case -14:
            return 0x2001;
        case -16:
            return 0x2004;
        case -17:
            return 0x2005;
        case -19:
            return 0x2006;
        case -22:
            return 0x2007;
        case -23:
            return 0x2002;
        case -24:
            return 0x2003;
        case -25:
            return 0x2008;
        default:
            return reason;
    }
}

bool MdApi::is_heartbeat_warning_due(unsigned long idle, unsigned long now,
                                     unsigned long last_check, unsigned int timeout) {
    unsigned long half = static_cast<unsigned long>(timeout / 2) * Base::Measure::TICKS_PER_SECOND;
    return idle > half && now - last_check > half;
}

int MdApi::Init() {
    int expected = STATE_CREATED;
    if (!state_.compare_exchange_strong(expected, STATE_STARTING, std::memory_order_acq_rel))
        return ERR_ALREADY_INITED;
    Parallel::FdReactor* reactor = outside_reactor_;
    if (!reactor) {
        reactor = new Parallel::FdReactor(nullptr);
        reactor->create(true, nullptr);
    }
    ConnectionFile::make_path(connection_path_, flow_path_);
    connection_file_.open(connection_path_, trading_day_, data_center_id_);
    create_flows(reactor);
    reactor_ = reactor;
    // The reactor already runs: the session, the timer and the handler are
    // made on its thread, so that nothing of them fires before all exist.
    run_on_reactor(EVENT_START, nullptr);
    return 0;
}

void MdApi::create_flows(Parallel::FdReactor* reactor) {
    create_market_data_cache();
    login_queue_ = new Base::DataFlow(INIT_SUBJECT, LOGIN_BLOCK, LOGIN_BLOCK, nullptr, nullptr, 0,
                                      nullptr, true, false);
    login_iterator_ = new Base::DataFlow::Iterator(login_queue_, reactor, nullptr, nullptr);
    init_flow_ = new Network::XeloFlow(INIT_SUBJECT, INIT_BLOCK, INIT_BLOCK, nullptr, nullptr, 0,
                                       nullptr, true, false);
    init_writer_ = new Network::XeloFlow::Writer(init_flow_, false);
    request_flow_ = new Network::XeloFlow(DIALOGUE_SUBJECT, DIALOGUE_BLOCK, DIALOGUE_BLOCK, nullptr,
                                          nullptr, 0, nullptr, true, false);
    request_writer_ = new Network::XeloFlow::Writer(request_flow_, false);
    response_flow_ = new Network::XeloFlow(DIALOGUE_SUBJECT, DIALOGUE_BLOCK, DIALOGUE_BLOCK,
                                           nullptr, this, 0, nullptr, false, false);
    for (int i = 0; i < topic_count_; ++i) {
        TopicEntry& entry = topics_[i];
        unsigned long start = entry.resume_type == TE_RESUME_FROM_SAVED
                                  ? connection_file_.get_saved(entry.topic_id)
                                  : 0;
        entry.flow = create_topic_flow(entry.topic_id, start);
    }
}

void MdApi::start_session() {
    // Started before the first callback can come, which may release.
    state_.store(STATE_STARTED, std::memory_order_release);
    network_thread_.store(static_cast<unsigned long>(pthread_self()), std::memory_order_release);
    session_ = new Network::XeloBondClientSession(reactor_, this, nullptr, SESSION_FACTOR);
    timer_ = reactor_->add_timer(TIMER_ID, TIMER_INTERVAL_US, false, this, true);
    login_timer_ = reactor_->add_timer(LOGIN_TIMER_ID, LOGIN_TIMER_US, false, this, false);
    open_addresses(fronts_, front_count_, false);
    open_addresses(name_servers_, name_server_count_, true);
    reactor_->add_handler(this);
}

// Addresses are tried in an order shuffled with a seed from the clock, so
// that clients started together spread over the fronts.
void MdApi::open_addresses(char (*table)[MAX_ADDRESS], int count, bool name_servers) {
    if (count <= 0) return;
    unsigned int order[MAX_FRONTS];
    Base::Random::shuffle(order, static_cast<unsigned int>(count),
                          static_cast<unsigned int>(Base::Measure::get_clock()));
    Base::Uri uri;
    for (int i = 0; i < count; ++i) {
        uri.parse(table[order[i]]);
        if (uri.get_port() == 0) continue;
        if (name_servers)
            session_->register_fens(uri.get_host(), uri.get_port());
        else
            session_->open(uri.get_host(), uri.get_port());
    }
}

// From an application thread Release returns once everything is stopped.
// From a callback it cannot wait for its own thread: the stop is queued and
// runs as soon as the callback has returned; Join then finishes it.
int MdApi::Release() {
    int expected = STATE_STARTED;
    if (!state_.compare_exchange_strong(expected, STATE_RELEASING, std::memory_order_acq_rel))
        return expected == STATE_CREATED || expected == STATE_STARTING ? ERR_NOT_INITED
                                                                       : ERR_RELEASED;
    quiet_.store(true, std::memory_order_release);
    if (on_network_thread()) {
        reactor_->add_event(EVENT_STOP, reinterpret_cast<void*>(1), nullptr, this, true);
        return 0;
    }
    wait_for_calls();
    run_on_reactor(EVENT_STOP, nullptr);
    if (reactor_ != outside_reactor_) {
        reactor_->stop();
        // The loop tests its running flag once per pass; an idle loop would
        // otherwise see it only when its wait of up to 10 ms ends.
        reactor_->wakeup(true);
        reactor_->join();
        delete reactor_;
        reactor_ = nullptr;
    }
    state_.store(STATE_RELEASED, std::memory_order_release);
    release_sign_.set();
    return 0;
}

bool MdApi::on_network_thread() const {
    unsigned long id = network_thread_.load(std::memory_order_acquire);
    return id != 0 && pthread_equal(static_cast<pthread_t>(id), pthread_self());
}

// Calls inside are short (none sleeps, none waits on a peer); the ones that
// wait on the reactor thread are served meanwhile.
void MdApi::wait_for_calls() {
    while (calls_inside_.load(std::memory_order_acquire) != 0) Base::Measure::sleep(1);
}

// On the reactor thread, after the callback that asked for it (deferred) or
// with the releasing thread waiting.
void MdApi::finish_stop(bool deferred) {
    if (deferred && calls_inside_.load(std::memory_order_acquire) != 0) {
        // A call that entered before Release may wait on this thread: serve
        // it first and look again on the next pass.
        reactor_->add_event(EVENT_STOP, reinterpret_cast<void*>(1), nullptr, this, true);
        return;
    }
    stop_session();
    network_thread_.store(0, std::memory_order_release);
    if (!deferred) return;
    if (reactor_ != outside_reactor_) {
        reactor_->stop();
        reactor_left_for_join_ = true;
    }
    state_.store(STATE_RELEASED, std::memory_order_release);
    release_sign_.set();
}

MdApi::CallScope::CallScope(MdApi* api) : api_(api), entered_(false) {
    // Count first, then look: Release changes the state first, then looks at
    // the count, so one of the two always sees the other.
    api_->calls_inside_.fetch_add(1, std::memory_order_seq_cst);
    entered_ = api_->state_.load(std::memory_order_seq_cst) < STATE_RELEASING;
    if (!entered_) api_->calls_inside_.fetch_sub(1, std::memory_order_release);
}

MdApi::CallScope::~CallScope() {
    if (entered_) api_->calls_inside_.fetch_sub(1, std::memory_order_release);
}

// On the reactor thread: the timers and the handler go first, so that the
// close caused by destroying the session finds none of them.
void MdApi::stop_session() {
    reactor_->remove_handler(this);
    reactor_->remove_timer(timer_);
    reactor_->remove_timer(login_timer_);
    timer_ = nullptr;
    login_timer_ = nullptr;
    releasing_ = true;
    // Sessions post events to themselves (a lost connection, a failed
    // attempt); run those already queued while their targets still exist.
    for (int i = 0; i < MAX_DRAIN_PASSES && reactor_->event_proc(); ++i) {
    }
    delete session_;
    session_ = nullptr;
    for (int i = 0; i < topic_count_; ++i) {
        delete topics_[i].flow;
        topics_[i].flow = nullptr;
    }
    destroy_overflow_flows();
    delete response_flow_;
    delete request_writer_;
    delete request_flow_;
    delete init_writer_;
    delete init_flow_;
    delete login_iterator_;
    delete login_queue_;
    response_flow_ = request_flow_ = init_flow_ = nullptr;
    request_writer_ = init_writer_ = nullptr;
    login_iterator_ = nullptr;
    login_queue_ = nullptr;
    destroy_market_data_cache();
}

bool MdApi::is_channel_open() {
    Network::XeloClientChannel* channel = session_ ? session_->get_channel() : nullptr;
    return channel && channel->get_id() != 0;
}

void MdApi::close_later(int reason) {
    if (!reactor_) return;  // only a harness feeds units without a running reactor
    unsigned long word = connection_serial_ << 8 | static_cast<unsigned long>(-reason & 0xFF);
    reactor_->add_event(EVENT_CLOSE, reinterpret_cast<void*>(word), nullptr, this, true);
}

// Runs at once when already on the reactor thread (a callback), else waits.
void MdApi::run_on_reactor(int id, void* arg) {
    Base::Sign done(0);
    reactor_->add_event(id, arg, &done, this, false);
    done.join();
}

void MdApi::reset_connection() {
    Base::MutexGuard guard(lock_);
    response_flow_->clear(0);
    request_flow_->clear(0);
    init_flow_->clear(0);
    login_queue_->clear(0);
    login_iterator_->seek(0);
    logged_in_ = false;
    memset(participant_id_, 0, sizeof participant_id_);
    memset(user_id_, 0, sizeof user_id_);
    memset(&flux_, 0, sizeof flux_);
    pending_login_.waiting = false;
    cache_full_reported_ = false;
}

void MdApi::on_connected() {
    if (releasing_) return;
    if (Network::XeloClientSession* current = session_->get_current())
        current->set_heartbeat_timeout(heartbeat_timeout_);
    last_heartbeat_check_ = reactor_->get_loop_time();
    reactor_->enable_timer(timer_, true);
    reset_connection();
    {
        Base::MutexGuard guard(lock_);
        flux_.per_second_limit = FLUX_PER_SECOND;
        flux_.outstanding_limit = FLUX_OUTSTANDING;
    }
    handshake_done_ = false;
    ++connection_serial_;
    send_key_exchange();
}

void MdApi::on_disconnected(int reason) {
    // During Release the timer is already gone and the session is being
    // destroyed: only the file, the reset and the report remain.
    if (!releasing_) reactor_->disable_timer(timer_);
    timer_work(true);
    reset_connection();
    last_heartbeat_check_ = 0;
    if (!releasing_) session_->set_cipher(0, 0);
    // Release's own close is still reported: it is the last callback.
    CTarnXeloMduserSpi* spi = releasing_ ? spi_.load(std::memory_order_acquire) : callback_spi();
    if (spi) spi->OnFrontDisconnected(map_disconnect_reason(reason));
}

int MdApi::on_event(int id, void* arg) {
    switch (id) {
        case EVENT_LOGIN:
            if (!releasing_) send_queued_logins();
            break;
        case EVENT_START:
            start_session();
            break;
        case EVENT_STOP:
            finish_stop(arg != nullptr);
            break;
        case EVENT_CHECK_CONNECTION:
            *static_cast<bool*>(arg) = is_connected_now();
            break;
        case EVENT_CLOSE: {
            unsigned long word = reinterpret_cast<unsigned long>(arg);
            // A connection lost meanwhile is left alone: closing the session
            // then would cancel its pending reconnection.
            if (!releasing_ && word >> 8 == connection_serial_ && is_channel_open())
                session_->close(-static_cast<int>(word & 0xFF));
            break;
        }
        default:
            break;
    }
    return 0;
}

bool MdApi::on_timer(int id) {
    if (id == TIMER_ID) timer_work(false);
    // The login timer runs only while a login waits for its time.
    if (id == LOGIN_TIMER_ID) {
        send_queued_logins();
        return pending_login_.waiting;
    }
    return true;
}

void MdApi::timer_work(bool at_once) {
    Network::XeloClientSession* current = releasing_ ? nullptr : session_->get_current();
    if (current) {
        unsigned long idle = current->get_idle_timeout();
        unsigned long now = reactor_->get_loop_time();
        if (is_heartbeat_warning_due(idle, now, last_heartbeat_check_, heartbeat_timeout_)) {
            if (CTarnXeloMduserSpi* spi = callback_spi())
                spi->OnHeartBeatWarning(static_cast<int>(idle / Base::Measure::TICKS_PER_SECOND));
            last_heartbeat_check_ = now;
        }
    }
    // Neither task delivers an update, so both wait for a moment when no
    // data is waiting (on_idle); a whole period without one, and they run
    // here as they would have.
    if (at_once || connection_file_due_) {
        recycle_flows_now();
        write_connection_file();
    }
    recycle_due_ = connection_file_due_ = !at_once;
}

bool MdApi::on_idle() {
    if (recycle_due_) {
        recycle_due_ = false;
        recycle_flows_now();
        return true;
    }
    if (connection_file_due_) {
        connection_file_due_ = false;
        write_connection_file();
        return true;
    }
    return false;
}

void MdApi::recycle_flows() {
    // Still due from the last request: a fast topic has gone a whole
    // recycling interval without a quiet moment, and its memory is released
    // here, every other interval, so that it stays bounded.
    if (recycle_due_) {
        recycle_due_ = false;
        recycle_flows_now();
    } else {
        recycle_due_ = true;
    }
}

void MdApi::recycle_flows_now() {
    Base::Trace::note(Base::Trace::RECYCLE);
    if (response_flow_) response_flow_->recycle(~0UL);
    for (int i = 0; i < topic_count_; ++i)
        if (topics_[i].flow) topics_[i].flow->recycle(~0UL);
    recycle_overflow_flows();
    Base::Trace::note(Base::Trace::RECYCLE_END);
}

void MdApi::write_connection_file() {
    if (!connection_file_.is_open()) return;
    Base::Trace::note(Base::Trace::CONNECTION_FILE);
    connection_file_.begin(trading_day_, data_center_id_);
    for (int i = 0; i < topic_count_; ++i)
        if (topics_[i].flow)
            connection_file_.add_topic(topics_[i].topic_id, topics_[i].flow->get_count());
    connection_file_.write();
    Base::Trace::note(Base::Trace::CONNECTION_FILE_END);
}

}  // namespace Api

#include "tools/front/front_server.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "base/measure.h"
#include "network/xelo_bond_server_session.h"
#include "network/xelo_server_session.h"
#include "parallel/fd_reactor.h"
#include "tools/common/address.h"
#include "tools/front/front_connection.h"
#include "tools/front/pacer.h"

namespace Front {

namespace {

const int MARKET_INTERVAL_US = 10000;
const int STATUS_INTERVAL_US = 1000000;
// Replayed instruments go to the first topic; at most this many per tick.
const int MAX_BURST = 1000;

std::string today() {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char text[16];
    strftime(text, sizeof text, "%Y%m%d", &local);
    return text;
}

}  // namespace

FrontServer::FrontServer()
    : Network::ServerSession(nullptr, nullptr, nullptr),
      replaying_(false),
      market_start_ms_(0),
      reactor_(nullptr),
      bond_(nullptr),
      market_timer_(nullptr),
      status_timer_(nullptr),
      accepted_(0),
      clients_(0),
      market_sent_(0),
      last_status_ms_(0),
      last_out_(0),
      last_in_(0),
      last_market_(0) {}

FrontServer::~FrontServer() {
    stop();
}

unsigned long FrontServer::now_ms() {
    return Base::Measure::get_clock() / (Base::Measure::TICKS_PER_SECOND / 1000);
}

bool FrontServer::start(const Options& options, std::string& error) {
    options_ = options;
    trading_day_ = options.trading_day.empty() ? today() : options.trading_day;
    if (!options.users_path.empty() && !users_.load(options.users_path.c_str(), error))
        return false;
    if (!options.terminal_key.empty() && !terminal_.load(options.terminal_key.c_str(), error))
        return false;
    if (!options.scenario_path.empty() && !scenario_.load(options.scenario_path.c_str(), error))
        return false;
    if (!options.replay_path.empty()) {
        if (!replay_.open(options.replay_path.c_str(), error)) return false;
        replaying_ = true;
    }
    if (options.cipher_type < 0 || options.cipher_type > 4) {
        error = "the cipher type must be 0 to 4";
        return false;
    }
    for (int topic : options.topics) {
        if (board_.add(topic) == nullptr) {
            error = "topic " + std::to_string(topic) +
                    " cannot be served (repeated, reserved: 0, 1, 4, 5, 65535, or more than 64)";
            return false;
        }
        SyntheticMarket::Config config;
        config.instruments = options.instruments;
        config.seed = options.seed + static_cast<unsigned int>(topic);
        config.trading_day = trading_day_.c_str();
        config.start_price = 3500000 + 1000000LL * static_cast<long long>(markets_.size());
        markets_.emplace_back(new SyntheticMarket(config));
        // Every synthetic topic starts with one snapshot of each instrument.
        bool replayed = replaying_ && board_.get_count() == 1;
        for (int i = 0; !replayed && i < markets_.back()->get_instrument_count(); ++i)
            markets_.back()->write_snapshot(board_.get_writer(board_.get_count() - 1), i);
        sent_per_topic_.push_back(0);
        next_instrument_.push_back(0);
    }
    context_.key_mode = options.key_mode;
    context_.cipher_type = options.cipher_type;
    context_.trading_day = trading_day_.c_str();
    context_.users = &users_;
    context_.terminal = terminal_.is_loaded() ? &terminal_ : nullptr;
    context_.topics = &board_;
    context_.log = options.log;

    reactor_ = new Parallel::FdReactor(nullptr);
    reactor_->create(true, nullptr);
    board_.start_recycling(reactor_, options.keep);
    bond_ = new Network::XeloBondServerSession(reactor_, this, nullptr, 2);
    for (const std::string& address : options.listen) {
        ToolCommon::Address a;
        if (!ToolCommon::parse_address(address, ToolCommon::AddressForm::LISTEN, a, error)) {
            stop();
            return false;
        }
        errno = 0;
        if (!bond_->open(a.host.c_str(), a.port)) {
            // errno is still the failed bind's or listen's.
            error = "cannot listen on " + address + ": " +
                    (errno != 0 ? strerror(errno) : "the listener could not be set up");
            stop();
            return false;
        }
        ports_.push_back(bond_->get_listener(bond_->get_listener_count() - 1)->get_port());
    }
    market_start_ms_ = now_ms();
    last_status_ms_ = market_start_ms_;
    market_timer_ = reactor_->add_timer(TIMER_MARKET, MARKET_INTERVAL_US, true, this, false);
    status_timer_ = reactor_->add_timer(TIMER_STATUS, STATUS_INTERVAL_US, true, this, false);
    return true;
}

void FrontServer::stop() {
    if (reactor_ == nullptr) return;
    if (market_timer_ != nullptr) reactor_->remove_timer(market_timer_);
    if (status_timer_ != nullptr) reactor_->remove_timer(status_timer_);
    market_timer_ = status_timer_ = nullptr;
    // Listeners close and every client is destroyed on the reactor thread.
    delete bond_;
    bond_ = nullptr;
    // After the clients: their readers give their cells back on the reactor.
    board_.stop_recycling();
    reactor_->stop();
    reactor_->join();
    delete reactor_;
    reactor_ = nullptr;
}

Network::ClientSession* FrontServer::create_client(int fd) {
    ++accepted_;
    FrontConnection* connection =
        new FrontConnection(reactor_, &context_, accepted_, scenario_.for_connection(accepted_));
    connection->open(fd);
    return connection;
}

void FrontServer::on_client_created(Network::ClientSession* client) {
    connections_.push_back(static_cast<FrontConnection*>(client));
    clients_.store(static_cast<int>(connections_.size()), std::memory_order_relaxed);
}

void FrontServer::on_client_destroy(Network::ClientSession* client) {
    for (size_t i = 0; i < connections_.size(); ++i) {
        if (connections_[i] == client) {
            connections_.erase(connections_.begin() + static_cast<long>(i));
            break;
        }
    }
    clients_.store(static_cast<int>(connections_.size()), std::memory_order_relaxed);
}

bool FrontServer::on_timer(int id) {
    unsigned long now = now_ms();
    if (id == TIMER_MARKET) {
        feed_market(now);
        // A fault may close a connection; its session goes later, by event.
        for (size_t i = 0; i < connections_.size(); ++i)
            connections_[i]->get_dialogue()->on_timer(now);
    } else if (id == TIMER_STATUS && context_.log != nullptr) {
        fprintf(context_.log, "%s\n", status_line(now).c_str());
        fflush(context_.log);
    }
    return true;
}

void FrontServer::feed_market(unsigned long now) {
    for (int t = 0; t < board_.get_count(); ++t) {
        unsigned long due = packets_due(market_start_ms_, now, options_.rate,
                                        sent_per_topic_[static_cast<size_t>(t)]);
        if (due > MAX_BURST) due = MAX_BURST;
        for (unsigned long k = 0; k < due; ++k) {
            sent_per_topic_[static_cast<size_t>(t)]++;
            market_sent_.fetch_add(1, std::memory_order_relaxed);
            if (replaying_ && t == 0) {
                if (!feed_replay(t)) replaying_ = false;
                continue;
            }
            SyntheticMarket& m = *markets_[static_cast<size_t>(t)];
            int& next = next_instrument_[static_cast<size_t>(t)];
            time_t seconds = static_cast<time_t>(now / 1000);
            struct tm local;
            localtime_r(&seconds, &local);
            char clock_text[9];
            strftime(clock_text, sizeof clock_text, "%H:%M:%S", &local);
            unsigned long sent = sent_per_topic_[static_cast<size_t>(t)];
            unsigned long every = static_cast<unsigned long>(options_.snapshot_every);
            bool snapshot = every > 0 && sent % every == 0;
            // Snapshots take the instruments in turn on their own, so each
            // gets one every snapshot_every x instruments packets whatever
            // the two numbers are (in step with the increments' turn, four
            // instruments and every 20th packet would snapshot one only).
            int index = snapshot ? static_cast<int>(sent / every % m.get_instrument_count()) : next;
            if (!snapshot) next = (next + 1) % m.get_instrument_count();
            m.step(index, clock_text, static_cast<int>(now % 1000));
            Network::XeloFlow::Writer* writer = board_.get_writer(t);
            if (snapshot)
                m.write_snapshot(writer, index);
            else
                m.write_increment(writer, &index, 1);
        }
    }
}

bool FrontServer::feed_replay(int topic_index) {
    Field::XelDepthMarketDataField record;
    std::string error;
    int rc = replay_.next(record, error);
    if (rc == 0 && replay_.rewind()) rc = replay_.next(record, error);
    if (rc < 0 && context_.log != nullptr)
        fprintf(context_.log, "replay stopped: %s\n", error.c_str());
    if (rc <= 0) return false;
    Network::XeloFlow::Writer* writer = board_.get_writer(topic_index);
    Network::XeloPacket* p = writer->alloc_packet(SyntheticMarket::TID_SNAPSHOT, 0);
    p->add_field(&Field::XelDepthMarketDataField::DESC, &record,
                 &Field::XelDepthMarketDataField::to_stream);
    writer->commit_packet(true);
    return true;
}

std::string FrontServer::status_line(unsigned long now) {
    unsigned long out = context_.packets_out.load(std::memory_order_relaxed);
    unsigned long in = context_.packets_in.load(std::memory_order_relaxed);
    unsigned long market = market_sent_.load(std::memory_order_relaxed);
    double seconds = now > last_status_ms_ ? (now - last_status_ms_) / 1000.0 : 1.0;
    char line[256];
    snprintf(line, sizeof line,
             "xelmd-front: %d client(s), market %lu packets (%.0f/s), requests %lu (%.0f/s), "
             "answers %lu",
             get_client_count(), market, (market - last_market_) / seconds, in,
             (in - last_in_) / seconds, out);
    (void)last_out_;
    last_status_ms_ = now;
    last_in_ = in;
    last_out_ = out;
    last_market_ = market;
    return line;
}

}  // namespace Front

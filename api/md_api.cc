#include "api/md_api.h"

#include <cstring>

#include "base/socket.h"
#include "parallel/fd_reactor.h"

namespace Api {

MdApi::MdApi(const char* flow_path, Parallel::FdReactor* reactor)
    : Network::ClientSession(nullptr, nullptr, nullptr),
      outside_reactor_(reactor),
      reactor_(nullptr),
      spi_(nullptr),
      front_count_(0),
      name_server_count_(0),
      front_mode_('1'),
      key_pair_(true),
      handshake_done_(false),
      init_encrypt_info_(0),
      login_queue_(nullptr),
      login_iterator_(nullptr),
      init_flow_(nullptr),
      init_writer_(nullptr),
      topic_count_(0),
      session_(nullptr),
      response_flow_(nullptr),
      data_center_id_(0),
      logged_in_(false),
      heartbeat_timeout_(10),
      request_log_(nullptr),
      response_log_(nullptr),
      last_login_time_(0),
      last_heartbeat_check_(0),
      releasing_(false),
      recycle_due_(false),
      connection_file_due_(false),
      connection_serial_(0),
      release_sign_(0),
      timer_(nullptr),
      login_timer_(nullptr),
      state_(STATE_CREATED),
      calls_inside_(0),
      quiet_(false),
      joined_(false),
      reactor_left_for_join_(false),
      network_thread_(0),
      pending_login_(),
      cache_full_reported_(false) {
    copy_text(flow_path_, flow_path ? flow_path : "", sizeof flow_path_);
    memset(fronts_, 0, sizeof fronts_);
    memset(name_servers_, 0, sizeof name_servers_);
    memset(trading_day_, 0, sizeof trading_day_);
    memset(participant_id_, 0, sizeof participant_id_);
    memset(user_id_, 0, sizeof user_id_);
    memset(public_key_text_, 0, sizeof public_key_text_);
    memset(connection_path_, 0, sizeof connection_path_);
    for (TopicEntry& t : topics_) t = TopicEntry{0, 0, true, nullptr};
    Base::Socket::startup();
}

MdApi::~MdApi() {
    Base::Socket::cleanup();
    if (request_log_) fclose(request_log_);
    if (response_log_) fclose(response_log_);
}

void MdApi::copy_text(char* dst, const char* src, int size) {
    int n = static_cast<int>(strnlen(src, static_cast<size_t>(size - 1)));
    memcpy(dst, src, static_cast<size_t>(n));
    memset(dst + n, 0, static_cast<size_t>(size - n));
}

// Join ends the object: it waits for Release, unless the API never started,
// in which case there is nothing to wait for.
int MdApi::Join() {
    if (on_network_thread()) return ERR_ON_NETWORK_THREAD;
    bool expected = false;
    if (!joined_.compare_exchange_strong(expected, true, std::memory_order_acq_rel))
        return ERR_RELEASED;
    if (state_.load(std::memory_order_acquire) != STATE_CREATED) release_sign_.join();
    if (reactor_left_for_join_) {
        reactor_->join();
        delete reactor_;
        reactor_ = nullptr;
    }
    delete this;
    return 0;
}

const char* MdApi::GetTradingDay() {
    return trading_day_;
}

// One routine for both tables: each registration empties the other table.
int MdApi::add_address(char (*table)[MAX_ADDRESS], int& count, int limit, int& other_count,
                       const char* address) {
    Base::MutexGuard guard(lock_);
    other_count = 0;
    if (count >= limit) return ERR_TABLE_FULL;
    copy_text(table[count], address ? address : "", MAX_ADDRESS);
    ++count;
    return 0;
}

int MdApi::RegisterFront(const char* address) {
    if (is_inited()) return ERR_AFTER_INIT;
    int rc = add_address(fronts_, front_count_, MAX_FRONTS, name_server_count_, address);
    Base::MutexGuard guard(lock_);  // other threads may be registering too
    front_mode_ = '0';
    return rc;
}

int MdApi::RegisterNameServer(const char* address) {
    if (is_inited()) return ERR_AFTER_INIT;
    return add_address(name_servers_, name_server_count_, MAX_NAME_SERVERS, front_count_, address);
}

void MdApi::RegisterSpi(CTarnXeloMduserSpi* spi) {
    spi_.store(spi, std::memory_order_release);
}

MdApi::TopicEntry* MdApi::get_market_data_subject(int topic) {
    int count = topic_count_;
    for (int i = 0; i < count; ++i)
        if (topics_[i].topic_id == topic) return &topics_[i];
    return nullptr;
}

int MdApi::SubscribeMarketDataTopic(int topic, TE_RESUME_TYPE resume) {
    if (is_inited()) return ERR_AFTER_INIT;
    Base::MutexGuard guard(lock_);
    // A full table refuses even a topic it already holds.
    if (topic_count_ >= MAX_TOPICS) return ERR_TABLE_FULL;
    if (TopicEntry* entry = get_market_data_subject(topic)) {
        entry->resume_type = resume;
        return 0;
    }
    TopicEntry& entry = topics_[topic_count_];
    entry.topic_id = topic;
    entry.resume_type = resume;
    ++topic_count_;
    return 0;
}

int MdApi::SetHeartbeatTimeout(unsigned int seconds) {
    if (is_inited()) return ERR_AFTER_INIT;
    if (seconds < MIN_HEARTBEAT_TIMEOUT) seconds = MIN_HEARTBEAT_TIMEOUT;
    if (seconds > MAX_HEARTBEAT_TIMEOUT) seconds = MAX_HEARTBEAT_TIMEOUT;
    heartbeat_timeout_ = seconds;
    return 0;
}

int MdApi::open_log(FILE*& log, const char* path) {
    if (log) {
        fclose(log);
        log = nullptr;
    }
    log = path ? fopen(path, "a+be") : nullptr;
    return log ? 0 : ERR_LOG_OPEN;
}

// Allowed at any time: the swap waits for a line being written.
int MdApi::OpenRequestLog(const char* path) {
    Base::MutexGuard guard(log_lock_);
    return open_log(request_log_, path);
}

int MdApi::OpenResponseLog(const char* path) {
    Base::MutexGuard guard(log_lock_);
    int r = open_log(response_log_, path);
    response_log_open_.store(response_log_ != nullptr, std::memory_order_relaxed);
    return r;
}

void MdApi::log_line(FILE* const& log, const Field::XelRspInfoField* info, const char* label,
                     const void* record, const Base::FieldDesc* desc, int struct_size,
                     char* scratch) {
    Base::MutexGuard guard(log_lock_);
    if (log) write_log(log, info, label, record, desc, struct_size, scratch);
}

}  // namespace Api

#include "api/md_api.h"

#include <cstring>

#include "base/socket.h"

namespace Api {

MdApi::MdApi(const char* flow_path, Parallel::FdReactor* reactor)
    : outside_reactor_(reactor),
      reactor_(nullptr),
      spi_(nullptr),
      front_count_(0),
      name_server_count_(0),
      front_mode_('1'),
      topic_count_(0),
      session_(nullptr),
      data_center_id_(0),
      logged_in_(false),
      heartbeat_timeout_(10),
      request_log_(nullptr),
      response_log_(nullptr),
      release_sign_(0),
      timer_(nullptr) {
    copy_text(flow_path_, flow_path ? flow_path : "", sizeof flow_path_);
    memset(fronts_, 0, sizeof fronts_);
    memset(name_servers_, 0, sizeof name_servers_);
    memset(trading_day_, 0, sizeof trading_day_);
    memset(participant_id_, 0, sizeof participant_id_);
    memset(user_id_, 0, sizeof user_id_);
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

int MdApi::Init() {
    if (reactor_) return ERR_ALREADY_INITED;
    return ERR_NOT_AVAILABLE;
}

int MdApi::Release() {
    if (!reactor_) return ERR_NOT_INITED;
    return ERR_NOT_AVAILABLE;
}

int MdApi::Join() {
    release_sign_.join();
    delete this;
    return 0;
}

const char* MdApi::GetTradingDay() {
    return trading_day_;
}

int MdApi::RegisterFront(const char* address) {
    if (reactor_) return ERR_AFTER_INIT;
    int rc = 0;
    lock_.enter();
    name_server_count_ = 0;
    if (front_count_ >= MAX_FRONTS) {
        rc = ERR_TABLE_FULL;
    } else {
        copy_text(fronts_[front_count_], address ? address : "", MAX_ADDRESS);
        ++front_count_;
    }
    lock_.leave();
    front_mode_ = '0';
    return rc;
}

int MdApi::RegisterNameServer(const char* address) {
    if (reactor_) return ERR_AFTER_INIT;
    int rc = 0;
    lock_.enter();
    front_count_ = 0;
    if (name_server_count_ >= MAX_NAME_SERVERS) {
        rc = ERR_TABLE_FULL;
    } else {
        copy_text(name_servers_[name_server_count_], address ? address : "", MAX_ADDRESS);
        ++name_server_count_;
    }
    lock_.leave();
    return rc;
}

void MdApi::RegisterSpi(CTarnXeloMduserSpi* spi) {
    spi_ = spi;
}

MdApi::TopicEntry* MdApi::get_market_data_subject(int topic) {
    int count = topic_count_;
    for (int i = 0; i < count; ++i)
        if (topics_[i].topic_id == topic) return &topics_[i];
    return nullptr;
}

int MdApi::SubscribeMarketDataTopic(int topic, TE_RESUME_TYPE resume) {
    if (reactor_) return ERR_AFTER_INIT;
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
    if (reactor_) return ERR_AFTER_INIT;
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
    log = path ? fopen(path, "a+b") : nullptr;
    return log ? 0 : ERR_LOG_OPEN;
}

int MdApi::OpenRequestLog(const char* path) {
    return open_log(request_log_, path);
}

int MdApi::OpenResponseLog(const char* path) {
    return open_log(response_log_, path);
}

int MdApi::ReqUserLogin(CTarnXeloReqUserLoginField*, int) {
    if (!reactor_) return ERR_NOT_INITED;
    return ERR_NOT_AVAILABLE;
}

// The key-exchange reply and the login response are handled with the key
// exchange, which this build does not carry yet: both packets are ignored
// (no callback, no log line, no count).
void MdApi::on_rsp_qry_crypt_info() {}

bool MdApi::on_rsp_user_login() {
    return false;
}

// The session comes with Init; until then no flow is subscribed anywhere.
void MdApi::subscribe_topic_flow(Network::XeloFlow*) {}

}  // namespace Api

#include "tools/bridge/bridge_spi.h"

#include <time.h>

#include <cstdio>
#include <cstring>

#include "tools/common/reason_text.h"

namespace Bridge {

namespace {

// Request ids of the topic queries: one per topic in the options' order.
const int QUERY_ID_BASE = 1000;

void copy_text(char* dst, size_t size, const std::string& text) {
    snprintf(dst, size, "%s", text.c_str());
}

int64_t realtime_ns() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

}  // namespace

BridgeSpi::BridgeSpi(const Options& options, UpdateQueue& queue, Metrics& metrics)
    : options_(options), queue_(queue), metrics_(metrics) {}

void BridgeSpi::begin_session(CTarnXeloMduserApi* api,
                              const std::map<int, PacketLedger::Point>& resume) {
    std::lock_guard<std::mutex> lock(mutex_);
    api_ = api;
    topics_.clear();
    for (const Options::Topic& t : options_.topics) {
        TopicState& state = topics_[t.id];
        auto r = resume.find(t.id);
        if (r == resume.end() || r->second.resume_from() == PacketLedger::UNKNOWN) continue;
        state.expected = r->second.resume_from();
        state.replay_until = r->second.commit;
    }
    in_package_ = false;
    staged_.clear();
    stopping_.store(false);
    overflowed_.store(false, std::memory_order_release);
}

void BridgeSpi::fail(const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_.empty()) error_ = error;
    failed_.store(true, std::memory_order_release);
}

std::string BridgeSpi::get_error() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

std::map<int, long> BridgeSpi::first_packets() {
    std::lock_guard<std::mutex> lock(mutex_);
    return first_;
}

void BridgeSpi::stopping() {
    stopping_.store(true);
}

void BridgeSpi::OnFrontConnected() {
    CTarnXeloReqUserLoginField login;
    memset(&login, 0, sizeof login);
    copy_text(login.UserID, sizeof login.UserID, options_.user);
    copy_text(login.Password, sizeof login.Password, options_.password);
    copy_text(login.ParticipantID, sizeof login.ParticipantID, options_.participant);
    copy_text(login.UserProductInfo, sizeof login.UserProductInfo, "xelmd-bridge");
    int rc = api_->ReqUserLogin(&login, ++login_id_);
    if (rc != 0)
        fail("the login request was refused by the library (" + ToolCommon::describe_result(rc) +
             ")");
}

void BridgeSpi::OnFrontDisconnected(int reason) {
    if (stopping_.load()) return;
    metrics_.front_reconnections.fetch_add(1);
    if (!options_.quiet)
        fprintf(stderr, "\nxelmd-bridge: disconnected from the front (reason %s)\n",
                ToolCommon::describe_reason(reason).c_str());
}

void BridgeSpi::OnRspUserLogin(CTarnXeloRspUserLoginField*, CTarnXeloRspInfoField* info, int,
                               bool) {
    if (info != nullptr && info->ErrorID != 0) {
        fail("login refused: error " + std::to_string(info->ErrorID) + " " + info->ErrorMsg);
        return;
    }
    query_topic(0);
}

// The login asks for every topic but a front skips those it does not serve
// without a word; a query per topic, one after the other, brings the answer.
void BridgeSpi::query_topic(size_t index) {
    if (index >= options_.topics.size()) return;
    CTarnXeloDisseminationField d = {};
    d.SequenceSeries = static_cast<short>(options_.topics[index].id);
    api_->ReqQryTopic(&d, QUERY_ID_BASE + static_cast<int>(index));
}

void BridgeSpi::OnRspQryTopic(CTarnXeloDisseminationField*, CTarnXeloRspInfoField* info,
                              int request_id, bool last) {
    size_t index = static_cast<size_t>(request_id - QUERY_ID_BASE);
    if (request_id < QUERY_ID_BASE || index >= options_.topics.size()) return;
    if (info != nullptr && info->ErrorID != 0)
        fprintf(stderr, "\nxelmd-bridge: topic %d refused by the front (topic query): %d %s\n",
                options_.topics[index].id, info->ErrorID, info->ErrorMsg);
    if (last) query_topic(index + 1);
}

void BridgeSpi::OnRspError(CTarnXeloRspInfoField* info, int, bool) {
    if (info != nullptr && !options_.quiet)
        fprintf(stderr, "\nxelmd-bridge: error response %d %s\n", info->ErrorID, info->ErrorMsg);
}

void BridgeSpi::OnPackageStart(int topic, int sequence) {
    staged_.clear();  // a packet cut short in an earlier session
    in_package_ = true;
    package_topic_ = topic;
    package_sequence_ = sequence;
    package_index_ = 0;
    package_replayed_ = check_sequence(topic, sequence);
    metrics_.set_last_sequence(topic, sequence);
    // A full buffer is left at a packet's start, so that what was queued
    // ends with whole packets, which the commit point can cover; the queue
    // has room beyond the buffer for the packet under way.
    if (!package_replayed_ && topics_.count(topic) != 0 &&
        queue_.size() >= static_cast<size_t>(options_.buffer))
        overflowed_.store(true, std::memory_order_release);
}

// Message ids are made of packet numbers: packets that do not follow on
// from the commit point would give other updates the ids of stored ones.
bool BridgeSpi::check_sequence(int topic, long sequence) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto t = topics_.find(topic);
    if (t == topics_.end()) return false;
    TopicState& state = t->second;
    const long expected = state.expected;
    const bool first = !state.seen;
    state.seen = true;
    state.expected = sequence + 1;
    first_.emplace(topic, sequence);
    const bool replayed = sequence <= state.replay_until;
    if (expected == 0 || sequence == expected || failed_.load()) return replayed;
    // The front released the first packet but still holds the one after
    // the commit point: exact from there, though not rebuilt.
    if (first && sequence > expected && sequence <= state.replay_until + 1) {
        fprintf(stderr,
                "\nxelmd-bridge: topic %d: the front no longer holds packet %ld; records "
                "continue from packet %ld and hold only the members updated since packet %ld "
                "until each instrument's next full snapshot\n",
                topic, expected, state.replay_until + 1, sequence);
        return replayed;
    }
    char text[320];
    snprintf(text, sizeof text,
             "topic %d: packet %ld expected, %ld received; the front's packets do not follow on "
             "from the stream's (publish into a new stream or prefix)",
             topic, expected, sequence);
    error_ = text;
    failed_.store(true, std::memory_order_release);
    return replayed;
}

void BridgeSpi::push(const Update& update) {
    if (overflowed_.load(std::memory_order_relaxed)) return;
    if (!queue_.push(update)) overflowed_.store(true, std::memory_order_release);
}

// A packet is queued whole once its end is seen: a stop (after Release the
// library skips the rest of a packet's callbacks) never leaves part of one
// in the stream. Its callbacks come back to back, so holding them costs no
// time worth counting.
void BridgeSpi::OnPackageEnd(int topic, int sequence) {
    bool ours = in_package_ && topic == package_topic_ && topics_.count(topic) != 0;
    in_package_ = false;
    if (!ours || package_replayed_ || failed()) {
        staged_.clear();
        return;
    }
    for (const Update& update : staged_) {
        if (!overflowed()) push(update);
        if (overflowed()) metrics_.deferred.fetch_add(1);
    }
    staged_.clear();
    if (overflowed()) return;
    scratch_.kind = Update::PACKET_END;
    scratch_.topic = topic;
    scratch_.seq = sequence;
    scratch_.index = package_index_;
    scratch_.received_ns = realtime_ns();
    push(scratch_);
}

void BridgeSpi::OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* depth) {
    // An update without its packet's number could not get a stable id.
    if (depth == nullptr || !in_package_ || topics_.count(package_topic_) == 0) {
        skipped_.fetch_add(1);
        return;
    }
    // Stored before: delivered only so that the library rebuilds its merged
    // records.
    if (package_replayed_) return;
    metrics_.received.fetch_add(1);
    int index = package_index_++;
    if (failed()) return;
    if (overflowed()) {
        metrics_.deferred.fetch_add(1);
        return;
    }
    scratch_.kind = Update::DATA;
    scratch_.topic = package_topic_;
    scratch_.seq = package_sequence_;
    scratch_.index = index;
    scratch_.received_ns = realtime_ns();
    memcpy(&scratch_.depth, depth, sizeof scratch_.depth);
    staged_.push_back(scratch_);
}

}  // namespace Bridge

#include "tools/record/recorder_spi.h"

#include <cstdio>
#include <cstring>

#include "tools/common/reason_text.h"

namespace Record {

namespace {

// Request ids of the topic queries: one per topic in the options' order.
const int QUERY_ID_BASE = 1000;

void copy_text(char* dst, size_t size, const std::string& text) {
    snprintf(dst, size, "%s", text.c_str());
}

}  // namespace

RecorderSpi::RecorderSpi(const Options& options, CTarnXeloMduserApi* api)
    : options_(options), api_(api), writer_(options.dir, options.format) {
    for (const Options::Topic& t : options.topics) topics_[t.id];
}

void RecorderSpi::resume(int topic, long origin, long position) {
    std::lock_guard<std::mutex> lock(mutex_);
    TopicState& state = topics_[topic];
    state.expected = origin + 1;
    state.origin = origin;
    state.replay_until = position;
}

void RecorderSpi::fail(const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    fail_locked(error);
}

void RecorderSpi::fail_locked(const std::string& error) {
    if (error_.empty()) error_ = error;
    failed_.store(true, std::memory_order_release);
}

void RecorderSpi::OnFrontConnected() {
    CTarnXeloReqUserLoginField login;
    memset(&login, 0, sizeof login);
    copy_text(login.UserID, sizeof login.UserID, options_.user);
    copy_text(login.Password, sizeof login.Password, options_.password);
    copy_text(login.ParticipantID, sizeof login.ParticipantID, options_.participant);
    copy_text(login.UserProductInfo, sizeof login.UserProductInfo, "xelmd-record");
    int rc = api_->ReqUserLogin(&login, ++login_id_);
    if (rc != 0)
        fail("the login request was refused by the library (" + ToolCommon::describe_result(rc) +
             ")");
}

void RecorderSpi::stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
}

void RecorderSpi::OnFrontDisconnected(int reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    ++disconnects_;
    if (!options_.quiet)
        fprintf(stderr, "\nxelmd-record: disconnected (reason %s)\n",
                ToolCommon::describe_reason(reason).c_str());
}

void RecorderSpi::OnRspUserLogin(CTarnXeloRspUserLoginField*, CTarnXeloRspInfoField* info, int,
                                 bool) {
    if (info != nullptr && info->ErrorID != 0) {
        fail("login refused: error " + std::to_string(info->ErrorID) + " " + info->ErrorMsg);
        return;
    }
    query_topic(0);
}

// The login asks for every topic but a front skips those it does not serve
// without a word; a query per topic, one after the other, brings the answer.
void RecorderSpi::query_topic(size_t index) {
    if (index >= options_.topics.size()) return;
    CTarnXeloDisseminationField d = {};
    d.SequenceSeries = static_cast<short>(options_.topics[index].id);
    api_->ReqQryTopic(&d, QUERY_ID_BASE + static_cast<int>(index));
}

void RecorderSpi::OnRspQryTopic(CTarnXeloDisseminationField*, CTarnXeloRspInfoField* info,
                                int request_id, bool last) {
    size_t index = static_cast<size_t>(request_id - QUERY_ID_BASE);
    if (request_id < QUERY_ID_BASE || index >= options_.topics.size()) return;
    if (info != nullptr && info->ErrorID != 0)
        fprintf(stderr, "\nxelmd-record: topic %d refused by the front (topic query): %d %s\n",
                options_.topics[index].id, info->ErrorID, info->ErrorMsg);
    if (last) query_topic(index + 1);
}

void RecorderSpi::OnRspError(CTarnXeloRspInfoField* info, int, bool) {
    if (info != nullptr && !options_.quiet)
        fprintf(stderr, "\nxelmd-record: error response %d %s\n", info->ErrorID, info->ErrorMsg);
}

void RecorderSpi::OnPackageStart(int topic, int sequence) {
    in_package_ = true;
    package_topic_ = topic;
    package_sequence_ = sequence;
    std::lock_guard<std::mutex> lock(mutex_);
    auto t = topics_.find(topic);
    if (t != topics_.end()) check_sequence(topic, t->second, sequence);
}

// Rows are merged records: after a skipped or repeated packet they would no
// longer be those of a recording that never stopped, so the recording stops.
void RecorderSpi::check_sequence(int topic, TopicState& state, int sequence) {
    long expected = state.expected;
    bool first = !state.seen;
    state.seen = true;
    state.expected = static_cast<long>(sequence) + 1;
    if (sequence <= state.replay_until) ++state.replayed;
    if (expected == 0 || sequence == expected || failed_.load(std::memory_order_relaxed)) return;
    char text[320];
    if (first)  // only a resumed topic expects a first packet
        snprintf(text, sizeof text,
                 "topic %d: the recording began with packet %ld, which the front no longer "
                 "serves (it sent packet %d first); the merged records cannot be rebuilt "
                 "(record on into a new directory)",
                 topic, expected, sequence);
    else
        snprintf(text, sizeof text,
                 "topic %d: packet %ld expected, %d received; rows from here would not continue "
                 "the recording exactly",
                 topic, expected, sequence);
    fail_locked(text);
}

void RecorderSpi::OnPackageEnd(int, int) {
    in_package_ = false;
}

void RecorderSpi::OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* depth) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto topic = topics_.find(package_topic_);
    // A row without its packet's number could not be resumed exactly.
    if (depth == nullptr || !in_package_ || topic == topics_.end()) {
        ++skipped_;
        return;
    }
    if (failed_.load(std::memory_order_relaxed)) return;
    TopicState& state = topic->second;
    // Replayed: the library's merged record is rebuilt; the row is on disk.
    if (package_sequence_ <= state.replay_until) return;
    DepthRow row;
    row.topic = package_topic_;
    row.sequence = package_sequence_;
    memcpy(&row.depth, depth, sizeof row.depth);
    std::string error;
    if (!writer_.add(row, api_->GetTradingDay(), error)) {
        fail_locked(error);
        return;
    }
    ++state.rows;
    state.last_sequence = package_sequence_;
    char time[32];
    snprintf(time, sizeof time, "%.8s.%03d", depth->UpdateTime, depth->UpdateMillisec % 1000);
    state.last_time = time;
}

bool RecorderSpi::flush(bool to_disk) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string error;
    bool ok = to_disk ? writer_.sync(error) : writer_.flush(error);
    if (!ok) fail_locked(error);
    return ok;
}

std::string RecorderSpi::status(double seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    unsigned long rows = writer_.get_rows();
    double rate = seconds > 0 ? (rows - last_rows_) / seconds : 0;
    last_rows_ = rows;
    char text[256];
    snprintf(text, sizeof text, "xelmd-record: %lu rows", rows);
    std::string line = text;
    if (seconds > 0) {
        snprintf(text, sizeof text, " (%.0f/s)", rate);
        line += text;
    }
    for (const auto& t : topics_) {
        const TopicState& state = t.second;
        if (state.rows == 0 && state.replay_until != 0)
            snprintf(text, sizeof text, " | topic %d: replayed %ld of %ld packets", t.first,
                     state.replayed, state.replay_until - state.origin);
        else
            snprintf(text, sizeof text, " | topic %d: %ld rows, packet %d, %s", t.first, state.rows,
                     state.last_sequence, state.last_time.empty() ? "-" : state.last_time.c_str());
        line += text;
    }
    if (disconnects_ != 0) line += " | disconnects " + std::to_string(disconnects_);
    if (skipped_ != 0) line += " | skipped " + std::to_string(skipped_);
    return line;
}

std::string RecorderSpi::get_error() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

unsigned long RecorderSpi::get_rows() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writer_.get_rows();
}

bool RecorderSpi::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string error;
    bool ok = writer_.close_all(error);
    if (!ok) fail_locked(error);
    return ok;
}

}  // namespace Record

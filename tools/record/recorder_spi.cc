#include "tools/record/recorder_spi.h"

#include <cstdio>
#include <cstring>

namespace Record {

namespace {

void copy_text(char* dst, size_t size, const std::string& text) {
    snprintf(dst, size, "%s", text.c_str());
}

}  // namespace

RecorderSpi::RecorderSpi(const Options& options, CTarnXeloMduserApi* api)
    : options_(options), api_(api), writer_(options.dir, options.format) {
    for (const Options::Topic& t : options.topics) topics_[t.id];
}

void RecorderSpi::fail(const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
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
    if (rc != 0) fail("the login request was refused by the library (" + std::to_string(rc) + ")");
}

void RecorderSpi::stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
}

void RecorderSpi::OnFrontDisconnected(int reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    ++disconnects_;
    if (!options_.quiet) fprintf(stderr, "\nxelmd-record: disconnected (reason %d)\n", reason);
}

void RecorderSpi::OnRspUserLogin(CTarnXeloRspUserLoginField*, CTarnXeloRspInfoField* info, int,
                                 bool) {
    if (info != nullptr && info->ErrorID != 0)
        fail("login refused: error " + std::to_string(info->ErrorID) + " " + info->ErrorMsg);
}

void RecorderSpi::OnRspError(CTarnXeloRspInfoField* info, int, bool) {
    if (info != nullptr && !options_.quiet)
        fprintf(stderr, "\nxelmd-record: error response %d %s\n", info->ErrorID, info->ErrorMsg);
}

void RecorderSpi::OnPackageStart(int topic, int sequence) {
    in_package_ = true;
    package_topic_ = topic;
    package_sequence_ = sequence;
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
    DepthRow row;
    row.topic = package_topic_;
    row.sequence = package_sequence_;
    memcpy(&row.depth, depth, sizeof row.depth);
    std::string error;
    if (!writer_.add(row, api_->GetTradingDay(), error)) {
        if (error_.empty()) error_ = error;
        failed_.store(true, std::memory_order_release);
        return;
    }
    TopicState& state = topic->second;
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
    if (!ok) {
        if (error_.empty()) error_ = error;
        failed_.store(true, std::memory_order_release);
    }
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
        snprintf(text, sizeof text, " | topic %d: %ld rows, packet %d, %s", t.first, t.second.rows,
                 t.second.last_sequence,
                 t.second.last_time.empty() ? "-" : t.second.last_time.c_str());
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

void RecorderSpi::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    writer_.close_all();
}

}  // namespace Record

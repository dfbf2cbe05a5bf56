#ifndef XELMD_TESTS_API_RECORDING_SPI_H
#define XELMD_TESTS_API_RECORDING_SPI_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "../../api/TarnXeloMduserApi.h"  // also where only api/ is on the path

// The public callback class has no virtual destructor (its slot layout is
// fixed); the recording classes of the tests are never deleted through it.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace ApiTest {

// Records every callback as one line of text (depth records also whole),
// from whichever thread calls; a test thread can wait for lines.
class RecordingSpi : public CTarnXeloMduserSpi {
  public:
    std::vector<std::string> events;
    std::vector<CTarnXeloDepthMarketDataField> depths;
    std::vector<const void*> depth_pointers;

    static std::string tail(const CTarnXeloRspInfoField* info, int id, bool last) {
        return (info ? " " + std::to_string(info->ErrorID) + ":" + info->ErrorMsg : " none") + " " +
               std::to_string(id) + (last ? " L" : "");
    }
    static std::string topic(const CTarnXeloDisseminationField* r) {
        return r ? std::to_string(r->SequenceSeries) + "@" + std::to_string(r->SequenceNo) : "null";
    }
    void OnFrontConnected() override { add("connected"); }
    void OnFrontDisconnected(int reason) override { add("disconnected " + std::to_string(reason)); }
    void OnHeartBeatWarning(int lapse) override { add("heartbeat " + std::to_string(lapse)); }
    void OnPackageStart(int topic, int no) override {
        add("start " + std::to_string(topic) + " " + std::to_string(no));
    }
    void OnPackageEnd(int topic, int no) override {
        add("end " + std::to_string(topic) + " " + std::to_string(no));
    }
    void OnRspError(CTarnXeloRspInfoField* info, int id, bool last) override {
        add("error" + tail(info, id, last));
    }
    void OnRspUserLogin(CTarnXeloRspUserLoginField* r, CTarnXeloRspInfoField* info, int id,
                        bool last) override {
        add("login" + tail(info, id, last) + " " + r->UserID + " " + r->TradingDay);
    }
    void OnRspUserLogout(CTarnXeloRspUserLogoutField* r, CTarnXeloRspInfoField* info, int id,
                         bool last) override {
        add(std::string("logout ") + r->UserID + "/" + r->ParticipantID + tail(info, id, last));
    }
    void OnRspUserPasswordUpdate(CTarnXeloUserPasswordUpdateField* r, CTarnXeloRspInfoField* info,
                                 int id, bool last) override {
        add(std::string("password ") + r->UserID + " " + r->OldPassword + "->" + r->NewPassword +
            tail(info, id, last));
    }
    void OnRspSubscribeTopic(CTarnXeloDisseminationField* r, CTarnXeloRspInfoField* info, int id,
                             bool last) override {
        add("subscribe " + topic(r) + tail(info, id, last));
    }
    void OnRspQryTopic(CTarnXeloDisseminationField* r, CTarnXeloRspInfoField* info, int id,
                       bool last) override {
        add("qry " + topic(r) + tail(info, id, last));
    }
    void OnRtnFlowMessageCancel(CTarnXeloFlowMessageCancelField* r) override {
        add("cancel " + std::to_string(r->SequenceSeries) + " " +
            std::to_string(r->StartSequenceNo) + ".." + std::to_string(r->EndSequenceNo));
    }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* r) override {
        add(std::string("depth ") + r->InstrumentID, r);
    }

    // Waits until at least count lines equal line (or, with prefix, begin so).
    bool wait_for(const std::string& line, int count = 1, int timeout_ms = 5000,
                  bool prefix = false) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return count_locked(line, prefix) >= count; });
    }
    int count(const std::string& line, bool prefix = false) {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_locked(line, prefix);
    }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events;
    }

  protected:
    void add(const std::string& line, CTarnXeloDepthMarketDataField* depth = nullptr) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (depth) {
            depths.push_back(*depth);
            depth_pointers.push_back(depth);
        }
        events.push_back(line);
        cv_.notify_all();
    }

  private:
    int count_locked(const std::string& line, bool prefix) const {
        int n = 0;
        for (const std::string& l : events) n += prefix ? l.rfind(line, 0) == 0 : l == line;
        return n;
    }
    std::mutex mutex_;
    std::condition_variable cv_;
};

// The interface answered by spies: each operation notes its name in hit
// and returns zero, for tests of the slot order and of callers of the API.
#define XELMD_TEST_SPY(ret, name, ...) \
    ret name(__VA_ARGS__) override {   \
        hit = #name;                   \
        return ret();                  \
    }
class SpyApi : public CTarnXeloMduserApi {
  public:
    using CText = const char*;
    std::string hit;
    // clang-format off
    XELMD_TEST_SPY(int, Release) XELMD_TEST_SPY(int, Init) XELMD_TEST_SPY(int, Join)
    XELMD_TEST_SPY(CText, GetTradingDay) XELMD_TEST_SPY(int, RegisterFront, const char*)
    XELMD_TEST_SPY(int, RegisterNameServer, const char*)
    XELMD_TEST_SPY(void, RegisterSpi, CTarnXeloMduserSpi*)
    XELMD_TEST_SPY(int, SubscribeMarketDataTopic, int, TE_RESUME_TYPE)
    XELMD_TEST_SPY(int, SetHeartbeatTimeout, unsigned int)
    XELMD_TEST_SPY(int, OpenRequestLog, const char*) XELMD_TEST_SPY(int, OpenResponseLog, const char*)
    XELMD_TEST_SPY(int, ReqUserLogin, CTarnXeloReqUserLoginField*, int)
    XELMD_TEST_SPY(int, ReqUserLogout, CTarnXeloReqUserLogoutField*, int)
    XELMD_TEST_SPY(int, ReqUserPasswordUpdate, CTarnXeloUserPasswordUpdateField*, int)
    XELMD_TEST_SPY(int, ReqSubscribeTopic, CTarnXeloDisseminationField*, int)
    XELMD_TEST_SPY(int, ReqQryTopic, CTarnXeloDisseminationField*, int)
    // clang-format on
};

}  // namespace ApiTest

#endif  // XELMD_TESTS_API_RECORDING_SPI_H

// The engine behind xelmd.Feed: an API object with a C++ callback object
// that logs in on every connection and queues depth records in a bounded
// ring, all without the GIL. Python takes rows out in batches, waiting with
// the GIL released in slices of at most 100 ms so signals are seen.
#ifndef XELMD_PYTHON_FEED_H
#define XELMD_PYTHON_FEED_H

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "TarnXeloMduserApi.h"
#include "feed_state.h"
#include "records.h"
#include "session.h"

namespace PyXelmd {

namespace py = pybind11;

struct FeedOptions {
    std::vector<std::string> fronts;
    std::vector<std::string> name_servers;
    std::string user;
    std::string password;
    std::vector<std::pair<int, int>> topics;  // (topic, resume type)
    std::string state_dir;
    size_t capacity = 65536;
    unsigned heartbeat = 0;  // 0: the library's default
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class Feed : public Session, private CTarnXeloMduserSpi {
  public:
    explicit Feed(FeedOptions options);
    ~Feed() override;

    // Init, then wait for the first login answer; raises LoginError on a
    // refusal and TimeoutError when none comes within timeout seconds.
    void start(double timeout);
    // Up to max_rows rows as a NumPy array of the row dtype; empty after
    // timeout seconds without data (negative: wait for ever).
    py::object read_batch(size_t max_rows, double timeout);
    // (topic, sequence, record) or None after timeout seconds.
    py::object next_update(double timeout);
    void close() override;

    // A descriptor that becomes readable when updates (or a stop) arrive
    // after the queue was empty, for an event loop's reader.
    int event_fd();

    int disconnects();
    int last_reason();
    static py::object dtype();

  private:
    void OnFrontConnected() override;
    void OnFrontDisconnected(int nReason) override;
    void OnPackageStart(int nTopicID, int nSequenceNo) override;
    void OnRspError(CTarnXeloRspInfoField* pRspInfo, int nRequestID, bool bIsLast) override;
    void OnRspUserLogin(CTarnXeloRspUserLoginField* pRspUserLogin, CTarnXeloRspInfoField* pRspInfo,
                        int nRequestID, bool bIsLast) override;
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* pDepthMarketData) override;

    // Registers the fronts, name servers, topics and heartbeat; raises.
    void configure();
    // Waits until pred() holds (under mutex_) or timeout; false on timeout.
    template <typename P>
    bool wait(double timeout, P pred);
    // Raises for a stop (refusal, overflow) once the queue is empty.
    void raise_if_stopped();
    void refuse(const CTarnXeloRspInfoField* info);
    void copy_out(DepthRow* out, size_t n);
    void wake();  // the event descriptor, if one was asked for
    // Writes the state file now, or when the last write is old enough.
    void save_state(bool now);

    FeedOptions options_;
    CTarnXeloMduserApi* api_;
    bool closed_;

    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<DepthRow> ring_;
    std::vector<int> ring_rows_;  // each queued row's index within its packet
    size_t head_ = 0;
    size_t count_ = 0;
    int topic_ = 0;
    int sequence_ = 0;
    int row_ = -1;
    std::unique_ptr<FeedState> state_;  // with a state directory only
    std::set<int> subscribed_;
    std::chrono::steady_clock::time_point saved_at_;
    enum class Login { Pending, Done, Refused } login_ = Login::Pending;
    int error_id_ = 0;
    std::string error_msg_;
    bool overflow_ = false;
    int overflow_topic_ = 0;
    int overflow_sequence_ = 0;
    int disconnects_ = 0;
    int last_reason_ = 0;
    int request_id_ = 0;
    std::atomic<int> event_fd_{-1};
};
#pragma GCC diagnostic pop

}  // namespace PyXelmd

#endif  // XELMD_PYTHON_FEED_H

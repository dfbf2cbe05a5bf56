#ifndef XELMD_TOOLS_RECORD_RECORDER_SPI_H
#define XELMD_TOOLS_RECORD_RECORDER_SPI_H

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "api/TarnXeloMduserApi.h"
#include "tools/record/options.h"
#include "tools/record/row_writer.h"

namespace Record {

// The recorder's callbacks: logs in on every connection and hands each depth
// record, tagged with the topic and number of the packet that carried it, to
// the row writer. Callbacks run on the API's network thread; flush, sync,
// status and the getters on the owner's thread; both take the one mutex.
class RecorderSpi : public CTarnXeloMduserSpi {
  public:
    RecorderSpi(const Options& options, CTarnXeloMduserApi* api);
    virtual ~RecorderSpi() = default;

    void OnFrontConnected() override;
    void OnFrontDisconnected(int reason) override;
    void OnRspUserLogin(CTarnXeloRspUserLoginField* login, CTarnXeloRspInfoField* info,
                        int request_id, bool last) override;
    void OnRspError(CTarnXeloRspInfoField* info, int request_id, bool last) override;
    void OnPackageStart(int topic, int sequence) override;
    void OnPackageEnd(int topic, int sequence) override;
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* depth) override;

    // From here on disconnections are the shutdown's own and go unreported.
    void stopping();
    bool flush(bool to_disk);
    // One status line: rows, rate since the last call (none for 0 seconds),
    // per topic the last packet and update time.
    std::string status(double seconds);
    // Set when recording cannot go on (refused login, a write error).
    bool failed() const { return failed_.load(std::memory_order_acquire); }
    std::string get_error();
    unsigned long get_rows();
    void close();

  private:
    struct TopicState {
        long rows = 0;
        int last_sequence = 0;
        std::string last_time;
    };
    void fail(const std::string& error);

    const Options& options_;
    CTarnXeloMduserApi* api_;
    std::mutex mutex_;
    RowWriter writer_;
    std::map<int, TopicState> topics_;
    // The packet being delivered (network thread only).
    bool in_package_ = false;
    int package_topic_ = 0;
    int package_sequence_ = 0;
    unsigned long skipped_ = 0;  // depth outside a recorded topic's packet
    unsigned long disconnects_ = 0;
    bool stopping_ = false;
    unsigned long last_rows_ = 0;
    int login_id_ = 0;
    std::string error_;
    // Release: the main thread polls it without the lock; the error text
    // written before it is read under the lock.
    std::atomic<bool> failed_{false};
};

}  // namespace Record

#endif  // XELMD_TOOLS_RECORD_RECORDER_SPI_H

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
// the row writer. A resumed topic first replays the packets already on disk
// without writing them, so that the library's merged records are again what
// they were when those rows were written; a topic whose packets do not follow
// on stops the recording. Callbacks run on the API's network thread; flush,
// sync, status and the getters on the owner's thread; both take the one
// mutex.
class RecorderSpi : public CTarnXeloMduserSpi {
  public:
    RecorderSpi(const Options& options, CTarnXeloMduserApi* api);
    virtual ~RecorderSpi() = default;

    // Before Init: the topic is asked from origin and its packets up to
    // position are on disk already (ResumeScanner::Span).
    void resume(int topic, long origin, long position);

    void OnFrontConnected() override;
    void OnFrontDisconnected(int reason) override;
    void OnRspUserLogin(CTarnXeloRspUserLoginField* login, CTarnXeloRspInfoField* info,
                        int request_id, bool last) override;
    void OnRspError(CTarnXeloRspInfoField* info, int request_id, bool last) override;
    // A topic the front does not serve is named on the standard error stream.
    void OnRspQryTopic(CTarnXeloDisseminationField* topic, CTarnXeloRspInfoField* info,
                       int request_id, bool last) override;
    void OnPackageStart(int topic, int sequence) override;
    void OnPackageEnd(int topic, int sequence) override;
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* depth) override;

    // From here on disconnections are the shutdown's own and go unreported.
    void stopping();
    bool flush(bool to_disk);
    // One status line: rows, rate since the last call (none for 0 seconds),
    // per topic the last packet and update time.
    std::string status(double seconds);
    // Set when recording cannot go on (refused login, a write error, a topic
    // whose packets do not follow on).
    bool failed() const { return failed_.load(std::memory_order_acquire); }
    std::string get_error();
    unsigned long get_rows();
    // Writes, syncs and closes the files; false (and failed) on an error.
    bool close();

  private:
    struct TopicState {
        long rows = 0;
        int last_sequence = 0;
        std::string last_time;
        long expected = 0;      // the next packet's number; 0: any (a new topic)
        long origin = 0;        // a resumed topic is asked from here
        long replay_until = 0;  // packets up to here are on disk: not written
        long replayed = 0;      // packets replayed so far
        bool seen = false;      // a packet came in this run
    };
    void fail(const std::string& error);
    void fail_locked(const std::string& error);
    void check_sequence(int topic, TopicState& state, int sequence);
    // Asks the front about the index-th topic of the options (network thread).
    void query_topic(size_t index);

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

#ifndef XELMD_TOOLS_BRIDGE_BRIDGE_SPI_H
#define XELMD_TOOLS_BRIDGE_BRIDGE_SPI_H

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "api/TarnXeloMduserApi.h"
#include "tools/bridge/metrics.h"
#include "tools/bridge/options.h"
#include "tools/bridge/packet_ledger.h"
#include "tools/bridge/update_queue.h"

namespace Bridge {

// The bridge's callbacks: logs in on every connection, numbers each depth
// update by its packet and its position inside it, and hands it to the
// queue without waiting. A resumed topic is asked from its first packet:
// the packets up to its commit point only rebuild the library's merged
// records and are not queued. When the queue is full, the rest of the session
// is left to the front's replay: nothing more is queued (so no packet has
// a hole) and overflowed() asks the owner to start a new session from the
// commit points. A topic whose packets do not follow on from where it was
// resumed fails the bridge. Callbacks run on the library's network thread;
// the owner calls begin_session before each Init.
class BridgeSpi : public CTarnXeloMduserSpi {
  public:
    BridgeSpi(const Options& options, UpdateQueue& queue, Metrics& metrics);
    virtual ~BridgeSpi() = default;

    // resume: per topic its first packet and commit point; a topic without
    // a commit point is asked by its mode.
    void begin_session(CTarnXeloMduserApi* api, const std::map<int, PacketLedger::Point>& resume);

    void OnFrontConnected() override;
    void OnFrontDisconnected(int reason) override;
    void OnRspUserLogin(CTarnXeloRspUserLoginField* login, CTarnXeloRspInfoField* info,
                        int request_id, bool last) override;
    void OnRspError(CTarnXeloRspInfoField* info, int request_id, bool last) override;
    void OnRspQryTopic(CTarnXeloDisseminationField* topic, CTarnXeloRspInfoField* info,
                       int request_id, bool last) override;
    void OnPackageStart(int topic, int sequence) override;
    void OnPackageEnd(int topic, int sequence) override;
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* depth) override;

    // From here on disconnections are the bridge's own and go unreported.
    void stopping();
    bool failed() const { return failed_.load(std::memory_order_acquire); }
    bool overflowed() const { return overflowed_.load(std::memory_order_acquire); }
    std::string get_error();
    // Per topic the first packet received in any session: where a topic
    // without a commit point resumes, since what came from there on may
    // have been deferred before it was queued.
    std::map<int, long> first_packets();
    unsigned long skipped() const { return skipped_.load(); }

  private:
    void fail(const std::string& error);
    // True for a packet at or below the topic's commit point.
    bool check_sequence(int topic, long sequence);
    void query_topic(size_t index);
    void push(const Update& update);

    const Options& options_;
    UpdateQueue& queue_;
    Metrics& metrics_;
    CTarnXeloMduserApi* api_ = nullptr;
    std::mutex mutex_;
    std::string error_;
    struct TopicState {
        long expected = 0;       // the next packet's number; 0: any (asked by its mode)
        long replay_until = -1;  // packets up to here were published before
        bool seen = false;       // a packet of this session
    };
    std::map<int, TopicState> topics_;
    std::map<int, long> first_;
    // The packet being delivered (network thread only).
    bool in_package_ = false;
    bool package_replayed_ = false;
    int package_topic_ = 0;
    long package_sequence_ = 0;
    int package_index_ = 0;
    int login_id_ = 0;
    Update scratch_;
    std::vector<Update> staged_;             // the packet's updates until its end
    std::atomic<unsigned long> skipped_{0};  // depth outside a subscribed topic's packet
    std::atomic<bool> stopping_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> overflowed_{false};
};

}  // namespace Bridge

#endif  // XELMD_TOOLS_BRIDGE_BRIDGE_SPI_H

#ifndef XELMD_TOOLS_BRIDGE_PUBLISHER_H
#define XELMD_TOOLS_BRIDGE_PUBLISHER_H

#include <nats/nats.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>

#include "tools/bridge/metrics.h"
#include "tools/bridge/options.h"
#include "tools/bridge/packet_ledger.h"
#include "tools/bridge/payload.h"
#include "tools/bridge/update_queue.h"

namespace Bridge {

// The NATS side: the connection, the stream, the commit points, and the
// thread that publishes the queue's updates asynchronously, each with its
// headers and an id made of (topic, packet, index). A message whose
// acknowledgement fails, times out or is lost with a connection is kept
// and published again under its id before anything newer, in the order
// the messages were first sent, so the stream stores it once. A commit marker goes out for a topic
// when its commit point advanced (at most every 50 ms, and at the end).
class Publisher {
  public:
    Publisher(const Options& options, UpdateQueue& queue, Metrics& metrics);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Connects to one of the servers within timeout_ms.
    bool connect(int timeout_ms, std::string& error);
    // Creates the stream, or checks an existing one: 0, or with error 1 when
    // it has other subjects, storage or replicas, 4 when NATS failed.
    int prepare_stream(std::string& error);
    // Each topic's commit point from the last message on its commit subject
    // (PacketLedger::UNKNOWN without one); false when the lookup failed.
    bool read_commits(std::string& error);
    void start();
    // Stops publishing once every buffered update and every commit marker is
    // acknowledged, or after limit_ms; true when everything was.
    bool finish(int limit_ms);

    // An update that cannot be published (no text form): the bridge stops
    // rather than leave a hole.
    bool failed() const { return failed_.load(std::memory_order_acquire); }
    std::string error();
    std::string last_error();
    bool connected() const { return connected_.load(std::memory_order_acquire); }
    PacketLedger& ledger() { return ledger_; }
    // Updates and packet ends buffered: the queue and messages to publish again.
    size_t buffered();

  private:
    // (topic, packet, index); a commit marker has index COMMIT_INDEX.
    using Key = std::tuple<int, long, int>;
    static constexpr int COMMIT_INDEX = 0x7fffffff;

    static void on_ack(jsCtx* js, natsMsg* msg, jsPubAck* ack, jsPubAckErr* error, void* self);
    static void on_disconnected(natsConnection* nc, void* self);
    static void on_reconnected(natsConnection* nc, void* self);
    static bool parse_key(natsMsg* msg, Key& key);

    void run();
    // One pass: messages handed back, retries, then one queued update.
    void step();
    void reclaim_pending();
    bool publish_retries();
    void publish_update(const Update& update);
    void publish_markers(bool force);
    // js_PublishMsgAsync with the acknowledgement wait; on failure the message
    // stays with the caller.
    bool send(natsMsg*& msg, const Key& key);
    void keep_for_retry(const Key& key, natsMsg* msg);
    // The message's first-send order, given on first use (mutex_ held).
    uint64_t order_of(const Key& key);
    bool has_room() const;
    void wait_for_room();
    bool drained();

    const Options& options_;
    UpdateQueue& queue_;
    Metrics& metrics_;
    PacketLedger ledger_;
    Payload payload_;  // publisher thread only
    // Reused for every update (publisher thread only).
    std::string body_, subject_, id_;
    int last_topic_ = -1;
    long last_seq_ = -1;
    natsOptions* nats_options_ = nullptr;
    natsConnection* connection_ = nullptr;
    jsCtx* js_ = nullptr;

    std::mutex mutex_;
    std::condition_variable acked_;
    // Messages to publish again, in the order they were first sent: a copy
    // of one still on its way expects the message sent before it, so only
    // that order stores it in its place, whatever it meets.
    std::map<uint64_t, std::pair<Key, natsMsg*>> retries_;
    std::map<Key, uint64_t> order_;  // first-send order of unacknowledged messages
    uint64_t next_order_ = 0;
    std::map<int, long> marker_acked_;  // highest acknowledged marker per topic
    std::map<int, long> marker_sent_;   // publisher thread only
    std::chrono::steady_clock::time_point last_markers_;
    std::chrono::steady_clock::time_point retry_after_;
    std::string last_error_;    // the last refusal, for the status line
    Key probe_;                 // the message sent alone to resume the pipeline
    std::string last_sent_id_;  // publisher thread only
    std::string error_;

    std::atomic<bool> connected_{false};
    std::atomic<bool> reconnected_{false};
    std::atomic<bool> careful_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> quit_{false};
    std::atomic<bool> done_{false};
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

}  // namespace Bridge

#endif  // XELMD_TOOLS_BRIDGE_PUBLISHER_H

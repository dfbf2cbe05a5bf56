#ifndef XELMD_TOOLS_BRIDGE_METRICS_H
#define XELMD_TOOLS_BRIDGE_METRICS_H

#include <atomic>
#include <map>
#include <string>
#include <vector>

namespace Bridge {

// The bridge's counters, written by its threads without locks and read by
// the status line and the metrics server.
class Metrics {
  public:
    static constexpr size_t MAX_TOPICS = 64;

    explicit Metrics(const std::vector<int>& topics);

    std::atomic<unsigned long> received{0};      // updates from the library
    std::atomic<unsigned long> published{0};     // first publishes of updates
    std::atomic<unsigned long> acknowledged{0};  // updates the stream acknowledged
    std::atomic<unsigned long> duplicates{0};    // of which the stream held already
    std::atomic<unsigned long> republished{0};   // publishes again under the same id
    std::atomic<unsigned long> failures{0};      // failed or timed-out acknowledgements
    std::atomic<long> in_flight{0};              // messages not yet acknowledged
    std::atomic<unsigned long> deferred{0};      // left to the front's replay (buffer full)
    std::atomic<unsigned long> markers{0};       // commit markers acknowledged
    std::atomic<unsigned long> front_reconnections{0};
    std::atomic<unsigned long> nats_reconnections{0};

    // The last packet received on a topic.
    void set_last_sequence(int topic, long seq);
    long last_sequence(int topic) const;
    const std::vector<int>& topics() const { return topics_; }

    // The Prometheus text format, with the buffered count and each topic's
    // commit point (-1: none yet).
    std::string render(size_t buffered, const std::map<int, long>& commits) const;

  private:
    int slot(int topic) const;

    std::vector<int> topics_;
    std::atomic<long> last_sequence_[MAX_TOPICS];
};

}  // namespace Bridge

#endif  // XELMD_TOOLS_BRIDGE_METRICS_H

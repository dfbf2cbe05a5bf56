#include "tools/bridge/metrics.h"

namespace Bridge {

namespace {

void metric(std::string& out, const char* name, const char* type, const char* help,
            unsigned long value) {
    out += std::string("# HELP xelmd_bridge_") + name + " " + help + "\n";
    out += std::string("# TYPE xelmd_bridge_") + name + " " + type + "\n";
    out += std::string("xelmd_bridge_") + name + " " + std::to_string(value) + "\n";
}

}  // namespace

Metrics::Metrics(const std::vector<int>& topics) : topics_(topics) {
    if (topics_.size() > MAX_TOPICS) topics_.resize(MAX_TOPICS);
    for (std::atomic<long>& s : last_sequence_) s.store(0);
}

int Metrics::slot(int topic) const {
    for (size_t i = 0; i < topics_.size(); ++i)
        if (topics_[i] == topic) return static_cast<int>(i);
    return -1;
}

void Metrics::set_last_sequence(int topic, long seq) {
    int i = slot(topic);
    if (i >= 0) last_sequence_[i].store(seq, std::memory_order_relaxed);
}

long Metrics::last_sequence(int topic) const {
    int i = slot(topic);
    return i < 0 ? 0 : last_sequence_[i].load(std::memory_order_relaxed);
}

std::string Metrics::render(size_t buffered, const std::map<int, long>& commits) const {
    std::string out;
    metric(out, "updates_received_total", "counter", "Depth updates received from the front.",
           received);
    metric(out, "updates_published_total", "counter",
           "Depth updates published to JetStream (first publish of each).", published);
    metric(out, "updates_acknowledged_total", "counter",
           "Depth update publishes acknowledged by JetStream.", acknowledged);
    metric(out, "updates_duplicate_total", "counter",
           "Acknowledged publishes the stream already held (de-duplicated).", duplicates);
    metric(out, "updates_republished_total", "counter",
           "Messages published again under the same id after a failed, timed-out or "
           "interrupted acknowledgement.",
           republished);
    metric(out, "publish_failures_total", "counter",
           "Failed or timed-out publish acknowledgements.", failures);
    long flight = in_flight.load();
    metric(out, "in_flight", "gauge", "Published messages waiting for their acknowledgement.",
           flight < 0 ? 0 : static_cast<unsigned long>(flight));
    metric(out, "buffered", "gauge", "Updates and packet ends waiting to be published.", buffered);
    metric(out, "updates_deferred_total", "counter",
           "Updates not buffered because the buffer was full; the front sends them again.",
           deferred);
    metric(out, "commit_markers_total", "counter", "Commit markers acknowledged.", markers);
    metric(out, "front_reconnections_total", "counter",
           "Disconnections from the front (the library reconnects, or the bridge after "
           "back-pressure).",
           front_reconnections);
    metric(out, "nats_reconnections_total", "counter", "Reconnections to NATS.",
           nats_reconnections);
    out += "# HELP xelmd_bridge_last_sequence Last packet sequence number received per topic.\n";
    out += "# TYPE xelmd_bridge_last_sequence gauge\n";
    for (int t : topics_)
        out += "xelmd_bridge_last_sequence{topic=\"" + std::to_string(t) + "\"} " +
               std::to_string(last_sequence(t)) + "\n";
    out +=
        "# HELP xelmd_bridge_commit_sequence Commit point per topic: every update of "
        "packets up to it is in the stream (-1: none yet).\n";
    out += "# TYPE xelmd_bridge_commit_sequence gauge\n";
    for (const auto& c : commits)
        out += "xelmd_bridge_commit_sequence{topic=\"" + std::to_string(c.first) + "\"} " +
               std::to_string(c.second) + "\n";
    return out;
}

}  // namespace Bridge

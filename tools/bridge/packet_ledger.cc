#include "tools/bridge/packet_ledger.h"

namespace Bridge {

void PacketLedger::set_commit(int topic, long seq, long first) {
    std::lock_guard<std::mutex> lock(mutex_);
    topics_[topic].point = Point{first, seq};
}

void PacketLedger::set_base(int topic, long seq) {
    std::lock_guard<std::mutex> lock(mutex_);
    Topic& t = topics_[topic];
    if (t.point.commit == UNKNOWN) t.point = Point{seq + 1, seq};
}

PacketLedger::Packet* PacketLedger::find(int topic, long seq) {
    Topic& t = topics_[topic];
    if (t.point.commit == UNKNOWN) t.point = Point{seq, seq - 1};
    if (seq <= t.point.commit) return nullptr;
    return &t.packets[seq];
}

void PacketLedger::published(int topic, long seq, int) {
    std::lock_guard<std::mutex> lock(mutex_);
    find(topic, seq);
}

void PacketLedger::ended(int topic, long seq, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    Packet* p = find(topic, seq);
    if (p == nullptr) return;
    p->count = count;
    if (p->acked.size() < static_cast<size_t>(count)) p->acked.resize(static_cast<size_t>(count));
    advance(topics_[topic]);
}

void PacketLedger::acked(int topic, long seq, int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto t = topics_.find(topic);
    if (t == topics_.end() || index < 0) return;
    auto p = t->second.packets.find(seq);
    if (p == t->second.packets.end()) return;
    std::vector<bool>& acked = p->second.acked;
    if (acked.size() <= static_cast<size_t>(index)) acked.resize(static_cast<size_t>(index) + 1);
    if (acked[static_cast<size_t>(index)]) return;
    acked[static_cast<size_t>(index)] = true;
    ++p->second.acked_count;
    advance(t->second);
}

// Packets follow on one by one, so the commit point moves only across
// complete packets right above it.
void PacketLedger::advance(Topic& topic) {
    while (!topic.packets.empty()) {
        auto first = topic.packets.begin();
        const Packet& p = first->second;
        if (first->first != topic.point.commit + 1 || p.count < 0 || p.acked_count < p.count)
            return;
        topic.point.commit = first->first;
        topic.packets.erase(first);
    }
}

long PacketLedger::commit(int topic) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto t = topics_.find(topic);
    return t == topics_.end() ? UNKNOWN : t->second.point.commit;
}

std::map<int, long> PacketLedger::commits() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::map<int, long> out;
    for (const auto& t : topics_) out[t.first] = t.second.point.commit;
    return out;
}

std::map<int, PacketLedger::Point> PacketLedger::points() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::map<int, Point> out;
    for (const auto& t : topics_) out[t.first] = t.second.point;
    return out;
}

size_t PacketLedger::open_packets() {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& t : topics_) n += t.second.packets.size();
    return n;
}

}  // namespace Bridge

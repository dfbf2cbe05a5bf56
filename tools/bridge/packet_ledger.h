#ifndef XELMD_TOOLS_BRIDGE_PACKET_LEDGER_H
#define XELMD_TOOLS_BRIDGE_PACKET_LEDGER_H

#include <map>
#include <mutex>
#include <vector>

namespace Bridge {

// Per topic, the commit point: the highest packet number such that every
// update of that packet and of all earlier ones is acknowledged by the
// stream. Packets above it are tracked until their end is known and each
// of their updates acknowledged (in any order, repeats counted once).
// Events for packets at or below the commit point are repeats and ignored.
// The publisher thread reports publishes and packet ends, the client's
// acknowledgement thread reports acks; one mutex.
class PacketLedger {
  public:
    static constexpr long UNKNOWN = -1;

    // Per topic, the first packet published into the stream and the commit
    // point; a resumed topic replays from the first to rebuild the library's
    // merged records.
    struct Point {
        long first = UNKNOWN;
        long commit = UNKNOWN;
        // The packet a new session asks first: the first one when it is
        // known and committed, else the one after the commit point; UNKNOWN
        // without a commit point.
        long resume_from() const {
            if (commit == UNKNOWN) return UNKNOWN;
            return first >= 0 && first <= commit ? first : commit + 1;
        }
    };

    // The commit point read from the stream and the first packet it names
    // (UNKNOWN when it names none); without one, the first packet seen sets
    // the commit point to the packet before.
    void set_commit(int topic, long seq, long first);
    // The same for a topic that has none yet: its first packet is seq + 1.
    void set_base(int topic, long seq);
    void published(int topic, long seq, int index);
    void ended(int topic, long seq, int count);
    void acked(int topic, long seq, int index);
    // UNKNOWN for a topic with no commit point and no packet seen yet.
    long commit(int topic);
    std::map<int, long> commits();
    std::map<int, Point> points();
    // Packets above the commit points, over all topics.
    size_t open_packets();

  private:
    struct Packet {
        int count = -1;  // updates in the packet; -1 until its end is seen
        int acked_count = 0;
        std::vector<bool> acked;
    };
    struct Topic {
        Point point;
        std::map<long, Packet> packets;
    };
    // The packet's entry, or null for a repeat at or below the commit point.
    Packet* find(int topic, long seq);
    static void advance(Topic& topic);

    std::mutex mutex_;
    std::map<int, Topic> topics_;
};

}  // namespace Bridge

#endif  // XELMD_TOOLS_BRIDGE_PACKET_LEDGER_H

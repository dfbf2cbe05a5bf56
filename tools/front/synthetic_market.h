#ifndef XELMD_TOOLS_FRONT_SYNTHETIC_MARKET_H
#define XELMD_TOOLS_FRONT_SYNTHETIC_MARKET_H

#include "base/random.h"
#include "field/xelfield.h"
#include "network/xelo_flow.h"

namespace Front {

// Five-level books of a few instruments moving by a random walk, written to
// a topic flow as full snapshots (RtnDepthMarketData) and as incremental
// groups (IntlRtnDepthMarketData) holding only what changed. Prices are
// fixed point with three decimals, as in the records. One thread.
class SyntheticMarket {
  public:
    static const int LEVELS = 5;
    static const int MAX_INSTRUMENTS = 64;
    static const unsigned short TID_SNAPSHOT = 0x5803;
    static const unsigned short TID_INCREMENT = 0x5902;

    struct Config {
        int instruments = 4;
        unsigned int seed = 1;
        long long tick = 1000;  // 1.000 in fixed point
        long long start_price = 3500000;
        const char* trading_day = "20250912";
    };

    explicit SyntheticMarket(const Config& config);

    int get_instrument_count() const { return count_; }
    const Field::XelDepthMarketDataField& get_book(int index) const { return books_[index]; }

    // Moves instrument index one step: the mid price walks by at most one
    // tick, volumes change, a trade may print. time is "HH:MM:SS".
    void step(int index, const char* time, int millisec);
    // A full snapshot of one instrument as one packet; the flow sequence
    // number. Snapshots go to the instrument that has gone longest without
    // one, index first among equals: a schedule that always lands on the
    // same instrument still refills every book once in get_instrument_count()
    // snapshots, and one that takes them in turn gets just what it names.
    unsigned long write_snapshot(Network::XeloFlow::Writer* writer, int index);
    // One packet with a group per instrument whose book changed since the
    // last snapshot or increment that covered it; ~0UL when none changed.
    unsigned long write_increment(Network::XeloFlow::Writer* writer, const int* indexes, int count);

  private:
    void rebuild_levels(Field::XelDepthMarketDataField& b, long long bid1, long long spread);
    void add_group(Network::XeloPacket* packet, int index);

    int count_;
    long long tick_;
    Base::Random random_;
    long long mid_[MAX_INSTRUMENTS];
    Field::XelDepthMarketDataField books_[MAX_INSTRUMENTS];
    // What the client has been sent of each book.
    Field::XelDepthMarketDataField sent_[MAX_INSTRUMENTS];
    // Per instrument the number of its last snapshot, counted from 1; 0: none.
    unsigned long snapshot_serial_[MAX_INSTRUMENTS];
    unsigned long snapshots_;
};

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_SYNTHETIC_MARKET_H

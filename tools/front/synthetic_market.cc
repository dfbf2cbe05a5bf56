#include "tools/front/synthetic_market.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace Front {

namespace {

const long long NULL_PRICE = LLONG_MAX;
const int GROUP_ROOM = 320;

void copy_text(char* out, int size, const char* in) {
    snprintf(out, static_cast<size_t>(size), "%s", in);
}

// The members of one level pair sit at fixed offsets from BidPrice1.
struct LevelRef {
    long long* price;
    int* volume;
};

LevelRef bid(Field::XelDepthMarketDataField& b, int level) {
    LevelRef refs[] = {{&b.BidPrice1, &b.BidVolume1},
                       {&b.BidPrice2, &b.BidVolume2},
                       {&b.BidPrice3, &b.BidVolume3},
                       {&b.BidPrice4, &b.BidVolume4},
                       {&b.BidPrice5, &b.BidVolume5}};
    return refs[level];
}

LevelRef ask(Field::XelDepthMarketDataField& b, int level) {
    LevelRef refs[] = {{&b.AskPrice1, &b.AskVolume1},
                       {&b.AskPrice2, &b.AskVolume2},
                       {&b.AskPrice3, &b.AskVolume3},
                       {&b.AskPrice4, &b.AskVolume4},
                       {&b.AskPrice5, &b.AskVolume5}};
    return refs[level];
}

}  // namespace

SyntheticMarket::SyntheticMarket(const Config& config)
    : count_(config.instruments < 1                 ? 1
             : config.instruments > MAX_INSTRUMENTS ? MAX_INSTRUMENTS
                                                    : config.instruments),
      tick_(config.tick > 0 ? config.tick : 1000),
      random_(config.seed),
      snapshots_(0) {
    for (int i = 0; i < count_; ++i) {
        Field::XelDepthMarketDataField& b = books_[i];
        memset(&b, 0, sizeof b);
        copy_text(b.TradingDay, sizeof b.TradingDay, config.trading_day);
        copy_text(b.ActionDay, sizeof b.ActionDay, config.trading_day);
        copy_text(b.SettlementGroupID, sizeof b.SettlementGroupID, "SG01");
        b.SettlementID = 1;
        snprintf(b.InstrumentID, sizeof b.InstrumentID, "XS%04d", 2509 + i);
        long long start = config.start_price + i * 50 * tick_;
        mid_[i] = start;
        b.PreSettlementPrice = start;
        b.PreClosePrice = start;
        b.PreOpenInterest = 0;
        b.OpenPrice = start;
        b.HighestPrice = start;
        b.LowestPrice = start;
        b.LastPrice = start;
        b.UpperLimitPrice = start + start / 10 / tick_ * tick_;
        b.LowerLimitPrice = start - start / 10 / tick_ * tick_;
        b.ClosePrice = NULL_PRICE;
        b.SettlementPrice = NULL_PRICE;
        b.PreDelta = NULL_PRICE;
        b.CurrDelta = NULL_PRICE;
        copy_text(b.UpdateTime, sizeof b.UpdateTime, "09:00:00");
        rebuild_levels(b, start - tick_, tick_ * 2);
        // Nothing sent yet: every group differs from the zeroed copy.
        memset(&sent_[i], 0, sizeof sent_[i]);
        snapshot_serial_[i] = 0;
    }
}

void SyntheticMarket::rebuild_levels(Field::XelDepthMarketDataField& b, long long bid1,
                                     long long spread) {
    for (int l = 0; l < LEVELS; ++l) {
        LevelRef bl = bid(b, l);
        LevelRef al = ask(b, l);
        *bl.price = bid1 - l * tick_;
        *al.price = bid1 + spread + l * tick_;
        *bl.volume = 1 + static_cast<int>(random_.next() % 200);
        *al.volume = 1 + static_cast<int>(random_.next() % 200);
    }
}

void SyntheticMarket::step(int index, const char* time, int millisec) {
    Field::XelDepthMarketDataField& b = books_[index];
    unsigned int r = random_.next();
    long long move = static_cast<long long>(r % 3) - 1;  // -1, 0, +1 tick
    long long lowest = b.LowerLimitPrice + 2 * tick_;
    long long highest = b.UpperLimitPrice - 2 * tick_;
    long long mid = mid_[index] + move * tick_;
    if (mid < lowest) mid = lowest;
    if (mid > highest) mid = highest;
    mid_[index] = mid;
    long long spread = tick_ * (1 + (r >> 8) % 2);
    if (move != 0 || (r >> 12) % 4 == 0) {
        rebuild_levels(b, mid - tick_, spread);
    } else {
        // Quiet step: only a few volumes change.
        int level = static_cast<int>((r >> 16) % LEVELS);
        *bid(b, level).volume = 1 + static_cast<int>(random_.next() % 200);
        *ask(b, level).volume = 1 + static_cast<int>(random_.next() % 200);
    }
    if ((r >> 20) % 2 == 0) {
        int quantity = 1 + static_cast<int>((r >> 24) % 20);
        long long price = (r >> 21) % 2 ? b.BidPrice1 : b.AskPrice1;
        b.LastPrice = price;
        b.Volume += quantity;
        b.Turnover += price * quantity * 10;  // contract multiplier 10
        b.OpenInterest = (b.OpenInterest == NULL_PRICE ? 0 : b.OpenInterest) + quantity * 1000;
        if (price > b.HighestPrice) b.HighestPrice = price;
        if (price < b.LowestPrice) b.LowestPrice = price;
    }
    copy_text(b.UpdateTime, sizeof b.UpdateTime, time);
    b.UpdateMillisec = millisec;
}

unsigned long SyntheticMarket::write_snapshot(Network::XeloFlow::Writer* writer, int index) {
    if (index < 0 || index >= count_) index = 0;
    int oldest = index;
    for (int k = 1; k < count_; ++k) {
        int i = (index + k) % count_;
        if (snapshot_serial_[i] < snapshot_serial_[oldest]) oldest = i;
    }
    index = oldest;
    snapshot_serial_[index] = ++snapshots_;
    Network::XeloPacket* p = writer->alloc_packet(TID_SNAPSHOT, 0);
    p->add_field(&Field::XelDepthMarketDataField::DESC, &books_[index],
                 &Field::XelDepthMarketDataField::to_stream);
    sent_[index] = books_[index];
    return writer->commit_packet(true);
}

namespace {

// One group member record: the changed test compares the record built from
// the book with the one built from what was sent.
template <typename R>
bool differs(const R& a, const R& b) {
    return memcmp(&a, &b, sizeof(R)) != 0;
}

template <typename R>
void add(Network::XeloPacket* p, const R& r) {
    p->add_field(&R::DESC, &r, &R::to_stream);
}

Field::XelMarketDataLastMatchField last_match(const Field::XelDepthMarketDataField& b) {
    Field::XelMarketDataLastMatchField r;
    memset(&r, 0, sizeof r);
    r.LastPrice = b.LastPrice;
    r.Volume = b.Volume;
    r.Turnover = b.Turnover;
    r.OpenInterest = b.OpenInterest;
    return r;
}

Field::XelMarketDataStaticField statics(const Field::XelDepthMarketDataField& b) {
    Field::XelMarketDataStaticField r;
    memset(&r, 0, sizeof r);
    r.OpenPrice = b.OpenPrice;
    r.HighestPrice = b.HighestPrice;
    r.LowestPrice = b.LowestPrice;
    r.ClosePrice = b.ClosePrice;
    r.UpperLimitPrice = b.UpperLimitPrice;
    r.LowerLimitPrice = b.LowerLimitPrice;
    r.SettlementPrice = b.SettlementPrice;
    r.CurrDelta = b.CurrDelta;
    return r;
}

// A level-pair record: two (price, volume) members named by the caller.
template <typename R>
R pair(long long R::*p1, int R::*v1, long long R::*p2, int R::*v2, long long a, int b, long long c,
       int d) {
    R r;
    memset(&r, 0, sizeof r);
    r.*p1 = a;
    r.*v1 = b;
    r.*p2 = c;
    r.*v2 = d;
    return r;
}

#define XELMD_PAIR(R, P1, V1, P2, V2, book)                                                      \
    pair<Field::R>(&Field::R::P1, &Field::R::V1, &Field::R::P2, &Field::R::V2, book.P1, book.V1, \
                   book.P2, book.V2)

}  // namespace

void SyntheticMarket::add_group(Network::XeloPacket* p, int index) {
    const Field::XelDepthMarketDataField& b = books_[index];
    const Field::XelDepthMarketDataField& s = sent_[index];
    Field::XelMarketDataUpdateTimeField t;
    memset(&t, 0, sizeof t);
    copy_text(t.InstrumentID, sizeof t.InstrumentID, b.InstrumentID);
    copy_text(t.UpdateTime, sizeof t.UpdateTime, b.UpdateTime);
    t.UpdateMillisec = b.UpdateMillisec;
    copy_text(t.ActionDay, sizeof t.ActionDay, b.ActionDay);
    add(p, t);
    if (differs(statics(b), statics(s))) add(p, statics(b));
    if (differs(last_match(b), last_match(s))) add(p, last_match(b));
    const Field::XelMarketDataBestPriceField best[2] = {
        XELMD_PAIR(XelMarketDataBestPriceField, BidPrice1, BidVolume1, AskPrice1, AskVolume1, b),
        XELMD_PAIR(XelMarketDataBestPriceField, BidPrice1, BidVolume1, AskPrice1, AskVolume1, s)};
    if (differs(best[0], best[1])) add(p, best[0]);
    const Field::XelMarketDataBid23Field b23[2] = {
        XELMD_PAIR(XelMarketDataBid23Field, BidPrice2, BidVolume2, BidPrice3, BidVolume3, b),
        XELMD_PAIR(XelMarketDataBid23Field, BidPrice2, BidVolume2, BidPrice3, BidVolume3, s)};
    if (differs(b23[0], b23[1])) add(p, b23[0]);
    const Field::XelMarketDataAsk23Field a23[2] = {
        XELMD_PAIR(XelMarketDataAsk23Field, AskPrice2, AskVolume2, AskPrice3, AskVolume3, b),
        XELMD_PAIR(XelMarketDataAsk23Field, AskPrice2, AskVolume2, AskPrice3, AskVolume3, s)};
    if (differs(a23[0], a23[1])) add(p, a23[0]);
    const Field::XelMarketDataBid45Field b45[2] = {
        XELMD_PAIR(XelMarketDataBid45Field, BidPrice4, BidVolume4, BidPrice5, BidVolume5, b),
        XELMD_PAIR(XelMarketDataBid45Field, BidPrice4, BidVolume4, BidPrice5, BidVolume5, s)};
    if (differs(b45[0], b45[1])) add(p, b45[0]);
    const Field::XelMarketDataAsk45Field a45[2] = {
        XELMD_PAIR(XelMarketDataAsk45Field, AskPrice4, AskVolume4, AskPrice5, AskVolume5, b),
        XELMD_PAIR(XelMarketDataAsk45Field, AskPrice4, AskVolume4, AskPrice5, AskVolume5, s)};
    if (differs(a45[0], a45[1])) add(p, a45[0]);
    sent_[index] = b;
}

unsigned long SyntheticMarket::write_increment(Network::XeloFlow::Writer* writer,
                                               const int* indexes, int count) {
    int changed = 0;
    for (int i = 0; i < count; ++i)
        if (memcmp(&books_[indexes[i]], &sent_[indexes[i]], sizeof books_[0]) != 0) ++changed;
    if (changed == 0) return ~0UL;
    Network::XeloPacket* p = writer->alloc_packet(TID_INCREMENT, 0);
    for (int i = 0; i < count; ++i) {
        int index = indexes[i];
        if (memcmp(&books_[index], &sent_[index], sizeof books_[0]) == 0) continue;
        // A full group takes under 300 bytes; the rest waits for the next packet.
        if (p->header.content_length + GROUP_ROOM > Network::XeloPacket::MAX_BODY_SIZE) break;
        add_group(p, index);
    }
    return writer->commit_packet(true);
}

}  // namespace Front

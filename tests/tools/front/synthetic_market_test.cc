#include "tools/front/synthetic_market.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/data_flow_iterator.h"
#include "tools/front/pacer.h"

namespace {

using Field::XelDepthMarketDataField;
using Front::SyntheticMarket;
using Network::XeloFlow;
using Network::XeloPacket;

const unsigned int MIB = 1 << 20;

// An independent client-side merge: snapshots replace, groups update the
// named members of the instrument selected by the last update-time field.
struct Replica {
    std::map<std::string, XelDepthMarketDataField> books;
    unsigned long last_sequence = 0;
    bool gap = false;

    void apply(const char* unit, unsigned short length) {
        XeloPacket::Header h;
        const char* fields = XeloFlow::decode(unit, length, &h);
        ASSERT_NE(fields, nullptr);
        unsigned long sequence = XeloPacket::get_sequence(&h);
        if (sequence != last_sequence + 1) gap = true;
        last_sequence = sequence;
        XeloPacket::Iterator it(&h, fields);
        XelDepthMarketDataField* current = nullptr;
        for (int id = it.next(); id >= 0; id = it.next()) {
            const Field::FieldStreamCoders* coders = nullptr;
            for (const auto& entry : Field::g_xel_field_list)
                if (entry.desc->field_id == id) coders = &entry;
            ASSERT_NE(coders, nullptr) << id;
            std::vector<char> record(static_cast<size_t>(coders->desc->struct_size));
            ASSERT_EQ(it.get_field(record.data(), coders->from_stream, false),
                      coders->desc->member_count);
            if (id == 0x2408) {
                auto& d = *reinterpret_cast<XelDepthMarketDataField*>(record.data());
                books[d.InstrumentID] = d;
                continue;
            }
            if (id == 0x2439) current = &books[record.data()];  // the instrument comes first
            ASSERT_NE(current, nullptr) << "group field before any update time";
            merge(*coders->desc, record.data(), current);
        }
    }
    // The members a group field carries, by name, into the book.
    static void merge(const Base::FieldDesc& group, const char* record,
                      XelDepthMarketDataField* book) {
        const Base::FieldDesc& d = XelDepthMarketDataField::DESC;
        for (int i = 0; i < group.member_count; ++i) {
            int j = d.get_member_index(group.members[i].name);
            ASSERT_GE(j, 0) << group.members[i].name;
            memcpy(reinterpret_cast<char*>(book) + d.members[j].offset,
                   record + group.members[i].offset, static_cast<size_t>(group.members[i].size));
        }
    }
};

void expect_sane_book(const XelDepthMarketDataField& b) {
    const long long bids[] = {b.BidPrice1, b.BidPrice2, b.BidPrice3, b.BidPrice4, b.BidPrice5};
    const long long asks[] = {b.AskPrice1, b.AskPrice2, b.AskPrice3, b.AskPrice4, b.AskPrice5};
    const int volumes[] = {b.BidVolume1, b.BidVolume2, b.BidVolume3, b.BidVolume4, b.BidVolume5,
                           b.AskVolume1, b.AskVolume2, b.AskVolume3, b.AskVolume4, b.AskVolume5};
    EXPECT_LT(b.BidPrice1, b.AskPrice1) << b.InstrumentID;
    for (int l = 1; l < 5; ++l) {
        EXPECT_LT(bids[l], bids[l - 1]) << b.InstrumentID << " bid level " << l + 1;
        EXPECT_GT(asks[l], asks[l - 1]) << b.InstrumentID << " ask level " << l + 1;
    }
    for (int v : volumes) EXPECT_GT(v, 0) << b.InstrumentID;
    EXPECT_GE(b.BidPrice5, b.LowerLimitPrice);
    EXPECT_LE(b.AskPrice5, b.UpperLimitPrice);
}

// The walk, the snapshots and the increments together: every book stays
// sane, the flow is numbered without gaps, and a client that merges what it
// receives ends with exactly the simulator's books.
TEST(SyntheticMarket, IncrementsRebuildTheBooksOnAGaplessFlow) {
    SyntheticMarket::Config config;
    config.instruments = 5;
    config.seed = 7;
    SyntheticMarket market(config);
    XeloFlow flow(1001, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    XeloFlow::Writer writer(&flow, false);
    for (int i = 0; i < market.get_instrument_count(); ++i) market.write_snapshot(&writer, i);

    int all[] = {0, 1, 2, 3, 4};
    for (int round = 0; round < 3000; ++round) {
        char time[9];
        snprintf(time, sizeof time, "09:%02d:%02d", round / 60 % 60, round % 60);
        int moved = round % 5;
        market.step(moved, time, round % 1000);
        market.step((moved + 2) % 5, time, round % 1000);
        expect_sane_book(market.get_book(moved));
        if (round % 500 == 499) market.write_snapshot(&writer, moved);
        market.write_increment(&writer, all, 5);
    }
    EXPECT_EQ(market.write_increment(&writer, all, 5), ~0UL) << "nothing changed since";

    Replica replica;
    Base::DataFlow::Iterator it(&flow, nullptr, nullptr, nullptr);
    for (const auto* r = it.next(); r != nullptr; r = it.next()) replica.apply(r->data, r->length);
    EXPECT_FALSE(replica.gap);
    EXPECT_EQ(replica.last_sequence, flow.get_count());
    ASSERT_EQ(replica.books.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        const XelDepthMarketDataField& want = market.get_book(i);
        const XelDepthMarketDataField& got = replica.books[want.InstrumentID];
        expect_sane_book(got);
        EXPECT_TRUE(XelDepthMarketDataField::DESC.equal_field(&got, &want)) << want.InstrumentID;
    }
}

TEST(SyntheticMarket, PacingKeepsTheRateWithoutBursts) {
    struct {
        unsigned long start, now;
        unsigned int rate;
        unsigned long sent, due;
    } cases[] = {
        {1000, 1000, 100, 0, 0},    // no time passed
        {1000, 1010, 100, 0, 1},    // 10 ms at 100/s
        {1000, 1500, 100, 40, 10},  // half a second, 40 sent
        {1000, 1500, 100, 60, 0},   // ahead of the rate
        {1000, 9000, 100, 0, 100},  // a long stall owes at most one second
        {5000, 4000, 100, 0, 0},    // clock before start
    };
    for (const auto& c : cases)
        EXPECT_EQ(Front::packets_due(c.start, c.now, c.rate, c.sent), c.due)
            << c.start << " " << c.now << " " << c.sent;
}

}  // namespace

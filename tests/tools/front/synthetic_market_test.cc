#include "tools/front/synthetic_market.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/data_flow_iterator.h"
#include "tests/api/dispatch_helpers.h"
#include "tests/test_table.h"
#include "tools/front/pacer.h"

namespace {

using Field::XelDepthMarketDataField;
using Front::SyntheticMarket;
using Network::XeloFlow;

const unsigned int MIB = 1 << 20;

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

// The library's cached record of each instrument is the simulator's book.
void expect_cache_holds_books(Api::MdApi& api, const SyntheticMarket& market, int topic) {
    const Base::FieldDesc& desc = XelDepthMarketDataField::DESC;
    for (int i = 0; i < market.get_instrument_count(); ++i) {
        // The book as it travels, read back with doubles as the library keeps
        // them.
        const XelDepthMarketDataField& book = market.get_book(i);
        std::vector<char> wire(static_cast<size_t>(desc.stream_size));
        XelDepthMarketDataField::to_stream(&book, wire.data(), desc.struct_size);
        CTarnXeloDepthMarketDataField want = {};
        XelDepthMarketDataField::from_stream(&want, wire.data(), desc.stream_size, true);
        const CTarnXeloDepthMarketDataField* got =
            Api::MdApiProbe::cached(&api, topic, book.InstrumentID);
        ASSERT_NE(got, nullptr) << book.InstrumentID;
        EXPECT_TRUE(desc.equal_field(got, &want)) << book.InstrumentID;
    }
}

// The walk, the snapshots and the increments together: every book stays
// sane, the flow is numbered without gaps, and the client library, fed what
// the flow holds, ends with exactly the simulator's books.
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

    Api::MdApi api("", nullptr);
    ApiTest::RecordingSpi spi;
    api.RegisterSpi(&spi);
    api.create_market_data_cache();
    Base::DataFlow::Iterator it(&flow, nullptr, nullptr, nullptr);
    for (const auto* r = it.next(); r != nullptr; r = it.next())
        api.on_write(1, r->data, r->length);
    int sequence = 0, gaps = 0;
    for (const std::string& l : spi.lines())
        if (l.rfind("start 1001 ", 0) == 0) gaps += std::stoi(l.substr(11)) != ++sequence;
    EXPECT_EQ(gaps, 0);
    EXPECT_EQ(sequence, static_cast<int>(flow.get_count()));
    EXPECT_EQ(Api::MdApiProbe::cache_size(&api), 5u);
    expect_cache_holds_books(api, market, 1001);
    api.destroy_market_data_cache();
}

// The front steps the instruments in turn and makes every 20th packet a
// snapshot, which with four instruments always lands on the same one. A
// client that joins after the opening snapshots still gets every book whole.
TEST(SyntheticMarket, SnapshotsRefillEveryBookForALateClient) {
    SyntheticMarket market{SyntheticMarket::Config()};
    XeloFlow flow(100, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    XeloFlow::Writer writer(&flow, false);
    for (int i = 0; i < 4; ++i) market.write_snapshot(&writer, i);
    for (int k = 1; k <= 80; ++k) {  // four snapshots
        int index = (k - 1) % 4;
        market.step(index, "09:30:00", k);
        k % 20 ? market.write_increment(&writer, &index, 1) : market.write_snapshot(&writer, index);
    }
    Api::MdApi api("", nullptr);
    api.create_market_data_cache();
    Base::DataFlow::Iterator it(&flow, nullptr, nullptr, nullptr);
    for (int skip = 4; const auto* r = it.next();)
        if (skip-- <= 0) api.on_write(1, r->data, r->length);
    expect_cache_holds_books(api, market, 100);
    api.destroy_market_data_cache();
}

TEST(SyntheticMarket, PacingKeepsTheRateWithoutBursts) {
    const char* table = "tools/front/synthetic_market.data";
    for (const TestTable::Row& r : TestTable::read(table, "pace"))
        EXPECT_EQ(Front::packets_due(std::stoul(r[1]), std::stoul(r[2]),
                                     static_cast<unsigned int>(std::stoul(r[3])), std::stoul(r[4])),
                  std::stoul(r[5]))
            << TestTable::where(table, r);
}

}  // namespace

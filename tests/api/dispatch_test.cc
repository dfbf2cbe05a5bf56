#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "api/md_api.h"
#include "tests/api/dispatch_helpers.h"

namespace {

using Api::MdApi;
using Api::MdApiProbe;

unsigned long g_local_time = 250912093000UL * 10000000UL + 1250000UL;
unsigned long local_time() {
    return g_local_time;
}
unsigned long now_ms() {
    return 1;
}

CTarnXeloDepthMarketDataField make_depth(const char* instrument, double last) {
    CTarnXeloDepthMarketDataField r;
    memset(&r, 0, sizeof r);
    strcpy(r.TradingDay, "20250912");
    strcpy(r.InstrumentID, instrument);
    strcpy(r.UpdateTime, "09:30:00");
    r.UpdateMillisec = 125;
    r.LastPrice = last;
    r.Volume = 12;
    r.BidPrice1 = last - 1;
    r.BidVolume1 = 3;
    r.AskPrice5 = last + 5;
    strcpy(r.ActionDay, "20250912");
    return r;
}

class DispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MdApiProbe::set_clocks(&api, &now_ms, &local_time);
        api.create_market_data_cache();
        api.RegisterSpi(&spi);
        snprintf(log_path, sizeof log_path, "/tmp/dispatch_test_%d.log", getpid());
        remove(log_path);
    }
    void TearDown() override {
        api.destroy_market_data_cache();
        remove(log_path);
    }
    void feed(const wire::Head& h, const std::string& fields, int ext = 0) {
        std::string u = wire::unit(h, fields, ext);
        api.on_write(0, u.data(), static_cast<unsigned short>(u.size()));
    }
    std::vector<std::string> log_lines() {
        std::ifstream in(log_path);
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l.substr(18));  // no stamp
        return lines;
    }
    unsigned received() { return MdApiProbe::flux(&api).received; }

    MdApi api{"", nullptr};
    RecordingSpi spi;
    char log_path[64];
};

TEST_F(DispatchTest, PackageCallbacksDependOnlyOnTheSeries) {
    struct Case {
        unsigned series;
        unsigned tid;
        std::string fields;
        std::vector<std::string> events;
    };
    const std::string info = wire::rsp_info(0, "");
    const Case cases[] = {
        {7, 0x7777, "", {"start 7 41", "end 7 41"}},  // unknown tid
        {1, 0x7777, "", {}},
        {0, 0x7777, "", {}},
        {4, 0x7777, "", {}},
        {5, 0x5803, info, {"start 5 41", "end 5 41"}},  // stopped early
        {1, 0x0001, info, {"error 0: 99 L"}},           // a response: no frame
        {9, 0x0001, info, {"start 9 41", "error 0: 99 L", "end 9 41"}},
    };
    for (const Case& c : cases) {
        spi.events.clear();
        feed({c.tid, c.series, 41, 'L', 99}, c.fields);
        EXPECT_EQ(spi.events, c.events) << "series " << c.series << " tid " << c.tid;
    }
    api.RegisterSpi(nullptr);
    spi.events.clear();
    feed({0x5803, 7, 1, 'L', 0}, wire::depth(make_depth("cu2510", 1.5)));
    EXPECT_TRUE(spi.events.empty());
    EXPECT_NE(MdApiProbe::cached(&api, 7, "cu2510"), nullptr);  // the cache is kept anyway
}

TEST_F(DispatchTest, ResponsesReachTheirCallbacksAndTheLog) {
    ASSERT_EQ(api.OpenResponseLog(log_path), 0);
    MdApiProbe::login(&api, "trader01", "P0001");
    std::string password;
    wire::text(password, "trader01", 16);
    wire::text(password, "P0001", 11);
    wire::text(password, "old-secret", 41);
    wire::text(password, "new-secret", 41);
    std::string logout;
    wire::text(logout, "trader01", 16);
    wire::text(logout, "P0001", 11);
    std::string cancel;
    wire::be16(cancel, 7);
    wire::text(cancel, "20250912", 9);
    wire::be32(cancel, 1);
    wire::be32(cancel, 100);
    wire::be32(cancel, 200);

    feed({0x0001, 1, 1, 'L', 11}, wire::rsp_info(17, "no such topic"));
    feed({0x1010, 1, 2, 'L', 12}, wire::rsp_info(0, "") + wire::field(0x0032, password));
    feed({0x1F02, 1, 3, 'C', 13}, wire::rsp_info(0, "") + wire::dissemination(3, 1200));
    feed({0x5201, 1, 4, 'L', 0}, wire::field(0x3201, cancel));
    EXPECT_TRUE(MdApiProbe::logged_in(&api));
    feed({0x1004, 1, 5, 'L', 14}, wire::rsp_info(0, "") + wire::field(0x000D, logout));

    const std::vector<std::string> events = {
        "error 17:no such topic 11 L",
        "password trader01 old-secret->new-secret 0: 12 L",  // as received
        "subscribe 3@1200 0: 13",
        "cancel 7 100..200",
        "logout trader01/P0001 0: 14 L",
    };
    EXPECT_EQ(spi.events, events);
    EXPECT_EQ(received(), 4u);  // the cancel notice is not a response
    EXPECT_FALSE(MdApiProbe::logged_in(&api));
    EXPECT_STREQ(MdApiProbe::user_id(&api), "");
    EXPECT_STREQ(MdApiProbe::participant_id(&api), "");
    const std::vector<std::string> lines = {
        "OnRspError,ErrorID=\"17\" ErrorMsg=\"no such topic\"",
        "OnRspUserPasswordUpdate,0,,UserID=\"trader01\" ParticipantID=\"P0001\" "
        "OldPassword=\"\" NewPassword=\"\"",
        "OnRspSubscribeTopic,0,,SequenceSeries=\"3\" SequenceNo=\"1200\"",
        "OnRtnFlowMessageCancel,SequenceSeries=\"7\" TradingDay=\"20250912\" "
        "DataCenterID=\"1\" StartSequenceNo=\"100\" EndSequenceNo=\"200\"",
        "OnRspUserLogout,0,,UserID=\"trader01\" ParticipantID=\"P0001\"",
    };
    EXPECT_EQ(log_lines(), lines);
}

TEST_F(DispatchTest, FailedLogoutKeepsTheLoginAndOutOfOrderFieldsStopHandling) {
    MdApiProbe::login(&api, "trader01", "P0001");
    std::string logout;
    wire::text(logout, "trader01", 16);
    wire::text(logout, "P0001", 11);
    feed({0x1004, 1, 1, 'L', 1}, wire::rsp_info(3, "refused") + wire::field(0x000D, logout));
    EXPECT_TRUE(MdApiProbe::logged_in(&api));
    EXPECT_EQ(received(), 1u);
    // Record before info, info without record, nothing at all: no callback,
    // no count.
    feed({0x1004, 1, 2, 'L', 1}, wire::field(0x000D, logout) + wire::rsp_info(0, ""));
    feed({0x1004, 1, 3, 'L', 1}, wire::rsp_info(0, ""));
    feed({0x1F02, 1, 4, 'L', 1}, "");
    feed({0x0001, 1, 5, 'L', 1}, wire::dissemination(1, 1));
    EXPECT_TRUE(MdApiProbe::logged_in(&api));
    EXPECT_EQ(spi.events.size(), 1u);
    EXPECT_EQ(received(), 1u);
}

TEST_F(DispatchTest, TopicQueryWalk) {
    ASSERT_EQ(api.OpenResponseLog(log_path), 0);
    const std::string info = wire::rsp_info(0, "ok");
    struct Case {
        char chain;
        std::string fields;
        std::vector<std::string> events;
        unsigned counted;
    };
    const Case cases[] = {
        {'L',
         info + wire::dissemination(3, 10) + wire::dissemination(5, 20) +
             wire::dissemination(7, 30),
         {"qry 3@10 0:ok 8", "qry 5@20 none 8", "qry 7@30 none 8 L"},
         1},
        {'L', info, {"qry null 0:ok 8 L"}, 1},
        {'C', wire::dissemination(3, 10), {"qry 3@10 none 8"}, 0},  // chain goes on
        // An info after a record is reported with that record again.
        {'L', wire::dissemination(3, 10) + info, {"qry 3@10 none 8", "qry 3@10 0:ok 8 L"}, 1},
        {'L', "", {"qry null none 8 L"}, 1},
    };
    for (const Case& c : cases) {
        spi.events.clear();
        unsigned before = received();
        feed({0x4202, 1, 1, c.chain, 8}, c.fields);
        EXPECT_EQ(spi.events, c.events) << c.chain << " " << c.fields.size();
        EXPECT_EQ(received() - before, c.counted);
    }
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "OnRspQryTopic,0,ok,SequenceSeries=\"3\" SequenceNo=\"10\"");
    EXPECT_EQ(lines[1], "OnRspQryTopic,SequenceSeries=\"5\" SequenceNo=\"20\"");
    EXPECT_EQ(lines[3], "OnRspQryTopic,0,ok,");
}

TEST_F(DispatchTest, FullSnapshotsFillTheCachePerTopicAndInstrument) {
    ASSERT_EQ(api.OpenResponseLog(log_path), 0);
    feed({0x5803, 3, 1, 'L', 0}, wire::depth(make_depth("cu2510", 71000.5)));
    feed({0x5803, 7, 1, 'L', 0}, wire::depth(make_depth("cu2510", 72000.25)));
    feed({0x5803, 3, 2, 'L', 0}, wire::depth(make_depth("cu2510", 71001.5)), 3);  // extended
    const std::string long_id(30, 'x');
    feed({0x5803, 3, 3, 'L', 0}, wire::depth(make_depth(long_id.c_str(), 9.0)));
    EXPECT_EQ(MdApiProbe::cache_size(&api), 3u);
    ASSERT_NE(MdApiProbe::cached(&api, 3, "cu2510"), nullptr);
    EXPECT_EQ(MdApiProbe::cached(&api, 3, "cu2510")->LastPrice, 71001.5);
    EXPECT_EQ(MdApiProbe::cached(&api, 7, "cu2510")->LastPrice, 72000.25);
    EXPECT_EQ(MdApiProbe::cached(&api, 3, long_id.c_str())->AskPrice5, 14.0);
    ASSERT_EQ(spi.depths.size(), 4u);
    EXPECT_EQ(memcmp(&spi.depths[1], MdApiProbe::cached(&api, 7, "cu2510"), sizeof spi.depths[1]),
              0);
    EXPECT_EQ(spi.events[0], "start 3 1");
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("OnRtnDepthMarketData,TradingDay=\"20250912\" "), std::string::npos);
    EXPECT_NE(lines[0].find(" LastPrice=\"71000.5"), std::string::npos) << lines[0];
}

std::string best_price(double bid, int bid_volume, double ask, int ask_volume) {
    std::string s;
    wire::f64(s, bid);
    wire::be32(s, static_cast<unsigned>(bid_volume));
    wire::f64(s, ask);
    wire::be32(s, static_cast<unsigned>(ask_volume));
    return wire::field(0x2434, s);
}

TEST_F(DispatchTest, IncrementalGroups) {
    feed({0x5803, 3, 1, 'L', 0}, wire::depth(make_depth("A", 100.0)));
    spi.events.clear();
    spi.depths.clear();
    spi.depth_pointers.clear();
    const CTarnXeloDepthMarketDataField a_before = *MdApiProbe::cached(&api, 3, "A");

    // No update-time field first: nothing changes, no data callback.
    feed({0x5902, 3, 2, 'L', 0}, best_price(1, 2, 3, 4));
    EXPECT_EQ(spi.events, (std::vector<std::string>{"start 3 2", "end 3 2"}));
    EXPECT_EQ(memcmp(MdApiProbe::cached(&api, 3, "A"), &a_before, sizeof a_before), 0);

    // An unknown instrument: a zero record with only the received members.
    feed({0x5902, 3, 3, 'L', 0},
         wire::update_time("N", "09:31:00", 500, "20250913") + best_price(1, 2, 3, 4));
    CTarnXeloDepthMarketDataField expect_n;
    memset(&expect_n, 0, sizeof expect_n);
    strcpy(expect_n.InstrumentID, "N");
    strcpy(expect_n.UpdateTime, "09:31:00");
    expect_n.UpdateMillisec = 500;
    strcpy(expect_n.ActionDay, "20250913");
    expect_n.BidPrice1 = 1;
    expect_n.BidVolume1 = 2;
    expect_n.AskPrice1 = 3;
    expect_n.AskVolume1 = 4;
    ASSERT_EQ(spi.depths.size(), 1u);
    EXPECT_EQ(memcmp(&spi.depths[0], &expect_n, sizeof expect_n), 0);
    EXPECT_EQ(spi.depth_pointers[0], MdApiProbe::cached(&api, 3, "N"));  // the cached record

    // Two instruments in one packet, unknown fields between: both updated,
    // one callback with the last.
    spi.depths.clear();
    feed({0x5902, 3, 4, 'L', 0}, wire::update_time("A", "09:32:00", 1, "20250912") +
                                     best_price(99, 5, 101, 6) + wire::field(0x2408, "junk") +
                                     wire::update_time("N", "09:32:01", 2, "20250913") +
                                     best_price(7, 8, 9, 10));
    ASSERT_EQ(spi.depths.size(), 1u);
    EXPECT_STREQ(spi.depths[0].InstrumentID, "N");
    EXPECT_EQ(spi.depths[0].BidVolume1, 8);
    const CTarnXeloDepthMarketDataField* a = MdApiProbe::cached(&api, 3, "A");
    EXPECT_EQ(a->BidPrice1, 99);
    EXPECT_EQ(a->AskVolume1, 6);
    EXPECT_STREQ(a->UpdateTime, "09:32:00");
    EXPECT_EQ(a->LastPrice, 100.0);  // untouched members stay
    EXPECT_EQ(a->AskPrice5, 105.0);
    // The same instrument on another topic is another record.
    EXPECT_EQ(MdApiProbe::cached(&api, 4, "A"), nullptr);
}

TEST_F(DispatchTest, MalformedUnitsAreIgnored) {
    std::string u = wire::unit({0x0001, 9, 1, 'L', 0}, wire::rsp_info(1, "x"));
    const unsigned short lengths[] = {0, 3, 6, 25, static_cast<unsigned short>(u.size() - 1)};
    for (unsigned short n : lengths) api.on_write(0, u.data(), n);
    std::string ext = u;
    ext[1] = static_cast<char>(250);  // extension beyond the unit
    api.on_write(0, ext.data(), static_cast<unsigned short>(ext.size()));
    api.on_write(0, nullptr, 0);
    EXPECT_TRUE(spi.events.empty());
    EXPECT_EQ(received(), 0u);
}

TEST_F(DispatchTest, AnApplicationThatOverridesNothingStillRuns) {
    CTarnXeloMduserSpi quiet;
    api.RegisterSpi(&quiet);
    ASSERT_EQ(api.OpenResponseLog(log_path), 0);
    feed({0x5803, 3, 1, 'L', 0}, wire::depth(make_depth("A", 1.0)));
    feed({0x4202, 1, 2, 'L', 0}, wire::rsp_info(0, "") + wire::dissemination(3, 1));
    feed({0x5902, 3, 3, 'L', 0}, wire::update_time("A", "09:30:01", 0, ""));
    EXPECT_EQ(log_lines().size(), 3u);  // logged whether or not overridden
    EXPECT_EQ(received(), 1u);
}

}  // namespace

// The API object's own logic without a connection: units fed to its
// receiving path (dispatch, topics, cache, response log) and requests caught
// from its request flow (refusals, flow control, request log).
#include <gtest/gtest.h>

#include <cstring>

#include "api/md_api.h"
#include "api/topic_key.h"
#include "tests/api/dispatch_helpers.h"
#include "tests/test_table.h"

namespace {

using Api::MdApi;
using Api::MdApiProbe;
using DispatchTest = ApiUnitTest;
using TopicTest = ApiUnitTest;
using RequestTest = ApiUnitTest;

const int NOT_LOGGED_IN = MdApi::ERR_NOT_LOGGED_IN;
const int TABLE_FULL = MdApi::ERR_TABLE_FULL;

CTarnXeloDepthMarketDataField make_depth(const char* instrument, double last) {
    CTarnXeloDepthMarketDataField r = {};
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
        EXPECT_EQ(spi.events, c.events) << "series " << c.series << " tid " << std::hex << c.tid;
    }
    // Without an Spi the cache, the count and the log are kept all the same.
    api.RegisterSpi(nullptr);
    spi.events.clear();
    ASSERT_EQ(api.OpenResponseLog(log_path.c_str()), 0);
    const unsigned before = received();
    feed({0x5803, 7, 1, 'L', 0}, wire::depth(make_depth("cu2510", 1.5)));
    feed({0x4202, 1, 2, 'L', 0}, wire::rsp_info(0, "") + wire::dissemination(3, 1));
    feed({0x5902, 7, 3, 'L', 0}, wire::update_time("cu2510", "09:30:01", 0, ""));
    EXPECT_TRUE(spi.events.empty());
    EXPECT_NE(MdApiProbe::cached(&api, 7, "cu2510"), nullptr);
    EXPECT_EQ(log_lines().size(), 3u);
    EXPECT_EQ(received() - before, 1u);
}

// The rows of one kind in dispatch.data, whole after the kind (a text may
// hold ':').
std::vector<std::string> texts(const std::string& kind) {
    std::vector<std::string> out;
    for (const TestTable::Row& r : TestTable::read("api/dispatch.data", kind)) {
        out.push_back(r[1]);
        for (size_t i = 2; i < r.size(); ++i) out.back() += ":" + r[i];
    }
    return out;
}

TEST_F(DispatchTest, ResponsesReachTheirCallbacksAndTheLog) {
    ASSERT_EQ(api.OpenResponseLog(log_path.c_str()), 0);
    MdApiProbe::login(&api, "trader01", "P0001");
    const std::string logout = wire::text("trader01", 16) + wire::text("P0001", 11);
    const std::string password =
        logout + wire::text("old-secret", 41) + wire::text("new-secret", 41);
    const std::string cancel = std::string("\0\7", 2) + wire::text("20250912", 9) + wire::be32(1) +
                               wire::be32(100) + wire::be32(200);

    feed({0x0001, 1, 1, 'L', 11}, wire::rsp_info(17, "no such topic"));
    feed({0x1010, 1, 2, 'L', 12}, wire::rsp_info(0, "") + wire::field(0x0032, password));
    feed({0x1F02, 1, 3, 'C', 13}, wire::rsp_info(0, "") + wire::dissemination(3, 1200));
    feed({0x5201, 1, 4, 'L', 0}, wire::field(0x3201, cancel));
    EXPECT_EQ(MdApiProbe::login_state(&api), "in trader01/P0001");
    feed({0x1004, 1, 5, 'L', 14}, wire::rsp_info(0, "") + wire::field(0x000D, logout));

    EXPECT_EQ(spi.events, texts("event"));
    EXPECT_EQ(received(), 4u);  // the cancel notice is not a response
    EXPECT_EQ(MdApiProbe::login_state(&api), "out /");
    EXPECT_EQ(log_lines(), texts("log"));
}

TEST_F(DispatchTest, FailedLogoutKeepsTheLoginAndOutOfOrderFieldsStopHandling) {
    MdApiProbe::login(&api, "trader01", "P0001");
    const std::string logout = wire::text("trader01", 16) + wire::text("P0001", 11);
    feed({0x1004, 1, 1, 'L', 1}, wire::rsp_info(3, "refused") + wire::field(0x000D, logout));
    EXPECT_EQ(received(), 1u);
    // Record before info, info without record, nothing at all: no callback,
    // no count.
    feed({0x1004, 1, 2, 'L', 1}, wire::field(0x000D, logout) + wire::rsp_info(0, ""));
    feed({0x1004, 1, 3, 'L', 1}, wire::rsp_info(0, ""));
    feed({0x1F02, 1, 4, 'L', 1}, "");
    feed({0x0001, 1, 5, 'L', 1}, wire::dissemination(1, 1));
    EXPECT_EQ(MdApiProbe::login_state(&api), "in trader01/P0001");
    EXPECT_EQ(spi.events.size(), 1u);
    EXPECT_EQ(received(), 1u);
}

TEST_F(DispatchTest, TopicQueryWalk) {
    ASSERT_EQ(api.OpenResponseLog(log_path.c_str()), 0);
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

// Random snapshots and increments are the depth property test's; here the
// cases it does not make.
TEST_F(DispatchTest, FullSnapshotsFillTheCachePerTopicAndInstrument) {
    ASSERT_EQ(api.OpenResponseLog(log_path.c_str()), 0);
    feed({0x5803, 3, 1, 'L', 0}, wire::depth(make_depth("cu2510", 71000.5)));
    feed({0x5803, 7, 1, 'L', 0}, wire::depth(make_depth("cu2510", 72000.25)), 3);  // extended
    // An older, shorter record: keyed by the instrument it does carry.
    feed({0x5803, 3, 2, 'L', 0},
         wire::field(0x2408, wire::depth(make_depth("short1", 5.0)).substr(4, 195)));
    EXPECT_EQ(MdApiProbe::cache_size(&api), 3u);
    // The same instrument on two topics is two entries.
    ASSERT_NE(MdApiProbe::cached(&api, 3, "cu2510"), nullptr);
    ASSERT_NE(MdApiProbe::cached(&api, 7, "cu2510"), nullptr);
    EXPECT_EQ(MdApiProbe::cached(&api, 3, "cu2510")->LastPrice, 71000.5);
    EXPECT_EQ(MdApiProbe::cached(&api, 7, "cu2510")->LastPrice, 72000.25);
    ASSERT_NE(MdApiProbe::cached(&api, 3, "short1"), nullptr);
    EXPECT_EQ(MdApiProbe::cached(&api, 3, "short1")->LastPrice, 5.0);
    EXPECT_EQ(MdApiProbe::cached(&api, 3, "short1")->AskPrice5, 0.0);
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("OnRtnDepthMarketData,TradingDay=\"20250912\" "), std::string::npos);
    EXPECT_NE(lines[0].find(" LastPrice=\"71000.5"), std::string::npos) << lines[0];
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

// A topic announcement on the dialogue series.
void announce(Api::MdApi& api, const std::string& fields) {
    std::string u = wire::unit({0x5901, 1, 1, 'L', 0}, fields);
    api.on_write(0, u.data(), static_cast<unsigned short>(u.size()));
}

// A snapshot appended to the topic's flow as the session would.
void deliver(Network::XeloFlow* flow, const char* instrument) {
    CTarnXeloDepthMarketDataField r = {};
    strcpy(r.InstrumentID, instrument);
    std::string u = wire::unit(
        {0x5803, flow->get_subject(), static_cast<unsigned>(flow->get_count() + 1), 'L', 0},
        wire::depth(r));
    void* at = flow->alloc_object(static_cast<unsigned short>(u.size()));
    memcpy(at, u.data(), u.size());
    flow->commit_object(static_cast<unsigned short>(u.size()), false);
}

TEST_F(TopicTest, AnnouncedTopicGetsAnEntryAndAFlowAtItsPosition) {
    ASSERT_EQ(api.SubscribeMarketDataTopic(3, TE_RESUME_FROM_SAVED), 0);
    announce(api, wire::dissemination(9, 500));
    ASSERT_EQ(api.get_topic_count(), 2);
    const MdApi::TopicEntry& e = api.get_topic(1);
    EXPECT_EQ(e.topic_id, 9);
    EXPECT_EQ(e.resume_type, TE_RESUME_FROM_NOW);
    EXPECT_FALSE(e.send_at_login);  // the next login does not ask for it
    ASSERT_NE(e.flow, nullptr);
    EXPECT_EQ(e.flow->get_count(), 500u);
    EXPECT_EQ(e.flow->get_subject(), 9);
    deliver(e.flow, "cu2510");
    EXPECT_EQ(e.flow->get_count(), 501u);
    EXPECT_EQ(spi.events, (std::vector<std::string>{"start 9 501", "depth cu2510", "end 9 501"}));
    // A second announcement repositions the same flow.
    announce(api, wire::dissemination(9, 20));
    EXPECT_EQ(api.get_topic_count(), 2);
    EXPECT_EQ(api.get_topic(1).flow, e.flow);
    EXPECT_EQ(e.flow->get_count(), 20u);
    // An announcement stops at a field of another kind.
    announce(api, wire::dissemination(10, 1) + wire::rsp_info(0, "") + wire::dissemination(11, 1));
    announce(api, wire::dissemination(12, 7));
    ASSERT_EQ(api.get_topic_count(), 4);
    EXPECT_EQ(api.get_topic(3).flow->get_count(), 7u);
    // Nothing else came of the announcements.
    EXPECT_EQ(spi.events.size(), 3u);
    EXPECT_EQ(received(), 0u);
}

TEST_F(TopicTest, TopicsBeyondTheTableStillGetAFlowOutsideIt) {
    for (int t = 1; t <= MdApi::MAX_TOPICS; ++t)
        ASSERT_EQ(api.SubscribeMarketDataTopic(t, TE_RESUME_FROM_BEGINNING), 0);
    announce(api, wire::dissemination(100, 40) + wire::dissemination(101, 50));
    EXPECT_EQ(api.get_topic_count(), int{MdApi::MAX_TOPICS});
    ASSERT_EQ(MdApiProbe::overflow_count(&api), 2);
    Network::XeloFlow* flow = MdApiProbe::overflow_flow(&api, 0);
    EXPECT_EQ(flow->get_subject(), 100);
    EXPECT_EQ(flow->get_count(), 40u);
    // Its packets are dispatched like any topic's.
    deliver(flow, "ag2512");
    EXPECT_EQ(spi.events, (std::vector<std::string>{"start 100 41", "depth ag2512", "end 100 41"}));
    EXPECT_NE(MdApiProbe::cached(&api, 100, "ag2512"), nullptr);
    // Announced again at the next login: the same flow, repositioned.
    announce(api, wire::dissemination(100, 7));
    EXPECT_EQ(MdApiProbe::overflow_count(&api), 2);
    EXPECT_EQ(flow->get_count(), 7u);
    // The extra room has its own bound; what passes it is ignored.
    std::string many;
    for (int t = 200; t < 200 + MdApi::MAX_OVERFLOW_TOPICS; ++t) many += wire::dissemination(t, 1);
    announce(api, many);
    EXPECT_EQ(MdApiProbe::overflow_count(&api), int{MdApi::MAX_OVERFLOW_TOPICS});
    EXPECT_EQ(api.get_topic_count(), int{MdApi::MAX_TOPICS});
    api.recycle_overflow_flows();
}

// Bytes behind the text do not take part; an id is cut to 30 characters.
TEST(TopicKey, OnlyTheTopicAndTheTextTakePart) {
    Api::TopicInstrumentKey a, b;
    Api::set_topic_key(&a, 3, "cu2510");
    Api::set_topic_key(&b, 7, "cu2510");
    EXPECT_FALSE(Api::equal_topic_instrument(&a, &b));
    Api::set_topic_key(&b, 3, "cu2510");
    b.instrument[20] = 'z';
    EXPECT_TRUE(Api::equal_topic_instrument(&a, &b));
    EXPECT_EQ(Api::hash_topic_instrument(&a), Api::hash_topic_instrument(&b));
    Api::set_topic_key(&a, 3, std::string(40, 'q').c_str());
    EXPECT_EQ(std::string(a.instrument), std::string(30, 'q'));
}

// With zero limits (no connection yet) nothing is held back.
TEST(ControlFlux, ZeroLimitsDisableTheirCheck) {
    MdApi::FluxValue flux = {};
    flux.sent = 1000;
    EXPECT_EQ(MdApi::control_flux(&flux, 1), 0);
    flux.per_second_limit = 64;
    flux.window_base = 1000;
    flux.stamp = 1;
    EXPECT_EQ(MdApi::control_flux(&flux, 2), 0);  // 1000 sent, none answered, no limit
    flux.sent = 1064;
    EXPECT_EQ(MdApi::control_flux(&flux, 2), MdApi::ERR_RATE);
}

TEST_F(RequestTest, RefusalsSendNothingAndSubscribeStillClearsSendAtLogin) {
    for (int t = 1; t < MdApi::MAX_TOPICS; ++t)
        ASSERT_EQ(api.SubscribeMarketDataTopic(t, TE_RESUME_FROM_BEGINNING), 0);
    MdApiProbe::connect(&api, &sent);
    CTarnXeloReqUserLogoutField logout = {};
    CTarnXeloUserPasswordUpdateField update = {};
    CTarnXeloDisseminationField topic = {5, 0};
    EXPECT_EQ(api.ReqUserLogout(&logout, 1), NOT_LOGGED_IN);
    EXPECT_EQ(api.ReqUserPasswordUpdate(&update, 2), NOT_LOGGED_IN);
    EXPECT_EQ(api.ReqQryTopic(&topic, 3), NOT_LOGGED_IN);
    EXPECT_TRUE(api.get_topic(4).send_at_login);
    EXPECT_EQ(api.ReqSubscribeTopic(&topic, 4), NOT_LOGGED_IN);
    EXPECT_FALSE(api.get_topic(4).send_at_login);
    // A full table is refused before the table is looked at.
    ASSERT_EQ(api.SubscribeMarketDataTopic(64, TE_RESUME_FROM_NOW), 0);
    MdApiProbe::login(&api, "trader01", "P0001");
    topic.SequenceSeries = 3;
    EXPECT_EQ(api.ReqSubscribeTopic(&topic, 5), TABLE_FULL);
    EXPECT_TRUE(api.get_topic(2).send_at_login);
    EXPECT_TRUE(sent.units.empty());
    EXPECT_EQ(MdApiProbe::flux(&api).sent, 0u);
}

// One script of chosen stamps: each step makes requests at a time; answered
// steps get an (error) response through the dispatcher for each request sent.
TEST_F(RequestTest, RateWindowsAndUnansweredStalls) {
    connect_and_login();
    auto respond = [&] { feed({0x0001, 1, 1, 'L', 7}, wire::rsp_info(11, "busy")); };
    CTarnXeloDisseminationField topic = {3, 0};
    unsigned passed = 0;
    for (const TestTable::Row& s : TestTable::read("api/dispatch.data", "step")) {
        SCOPED_TRACE(s.line);
        g_now_ms = std::stoul(s[1]);
        for (int i = std::stoi(s[2]); i > 0; --i) respond();
        int rc = 0;
        for (int i = 0; i < std::stoi(s[4]); ++i) {
            rc = api.ReqQryTopic(&topic, i);
            passed += rc == 0;
            if (rc == 0 && s[3] == "1") respond();
        }
        EXPECT_EQ(rc, std::stoi(s[5]));
    }
    EXPECT_EQ(sent.units.size(), passed);  // refusals are neither sent nor counted
    EXPECT_EQ(MdApiProbe::flux(&api).sent, passed);
}

TEST_F(RequestTest, PacketsCarryTidRequestIdAndTheFieldAsTheFrontReadsIt) {
    connect_and_login();
    CTarnXeloDisseminationField subscribe = {3, 1200}, query = {3, 0};
    ASSERT_EQ(api.ReqSubscribeTopic(&subscribe, 41), 0);
    ASSERT_EQ(api.OpenRequestLog(log_path.c_str()), 0);
    ASSERT_EQ(api.ReqQryTopic(&query, 42), 0);
    EXPECT_EQ(ApiTest::read_file(log_path),
              "20250912093000125,ReqQryTopic,SequenceSeries=\"3\" SequenceNo=\"0\"\n");
    CTarnXeloReqUserLogoutField logout;
    memset(logout.UserID, 'U', sizeof logout.UserID);  // no terminator
    memset(logout.ParticipantID, 'P', sizeof logout.ParticipantID);
    ASSERT_EQ(api.ReqUserLogout(&logout, 43), 0);
    const std::string ids = std::string(15, 'U') + '\0' + std::string(10, 'P') + '\0';
    EXPECT_EQ(sent.units, (std::vector<std::string>{
                              wire::unit({0x1F01, 1, 1, 'L', 41}, wire::dissemination(3, 1200)),
                              wire::unit({0x4201, 1, 2, 'L', 42}, wire::dissemination(3, 0)),
                              wire::unit({0x1003, 1, 3, 'L', 43}, wire::field(0x000C, ids))}));
}

// The ids are checked against the login's, participant first, and are
// terminated in the caller's record as far as they were checked.
TEST_F(RequestTest, PasswordUpdateChecksTheLoggedInIdsAndHidesPasswordsInTheLog) {
    connect_and_login();
    ASSERT_EQ(api.OpenRequestLog(log_path.c_str()), 0);
    const struct {
        const char* user;
        const char* participant;
        int expect;
        char user_end;  // UserID[15] afterwards
    } cases[] = {
        {"trader01", "P0002", MdApi::ERR_OTHER_PARTICIPANT, 'x'},
        {"trader02", "P0001", MdApi::ERR_OTHER_USER, 0},
        {"trader02", "P0002", MdApi::ERR_OTHER_PARTICIPANT, 'x'},
        {"trader01", "P0001", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.user) + "/" + c.participant);
        CTarnXeloUserPasswordUpdateField r;
        memset(&r, 'x', sizeof r);
        strcpy(r.UserID, c.user);
        strcpy(r.ParticipantID, c.participant);
        strcpy(r.OldPassword, "old-secret");
        strcpy(r.NewPassword, "new-secret");
        EXPECT_EQ(api.ReqUserPasswordUpdate(&r, 9), c.expect);
        EXPECT_EQ(r.ParticipantID[10], '\0');
        EXPECT_EQ(r.UserID[15], c.user_end);
    }
    ASSERT_EQ(sent.units.size(), 1u);
    EXPECT_NE(sent.units[0].find("old-secret"), std::string::npos);  // the front gets them
    EXPECT_EQ(ApiTest::read_file(log_path),
              "20250912093000125,ReqUserPasswordUpdate,UserID=\"trader01\" "
              "ParticipantID=\"P0001\" OldPassword=\"\" NewPassword=\"\"\n");
}

}  // namespace

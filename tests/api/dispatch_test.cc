// The API object's own logic without a connection: units fed to its
// receiving path (dispatch, topics, cache, response log) and requests caught
// from its request flow (refusals, flow control, request log); random
// streams of snapshots and increments against a model; and the memory that
// dispatching takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <sstream>

#include "api/depth_group.h"
#include "api/md_api.h"
#include "api/topic_key.h"
#include "field/xelfield.h"
#include "network/xelo_flow.h"
#include "network/xelo_packet.h"
#include "tests/api/dispatch_helpers.h"
#include "tests/test_table.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define XELMD_COUNT_MALLOC 0
#else
#define XELMD_COUNT_MALLOC 1
#endif

// Allocations are counted while g_counting is set; the sanitizer builds
// bring their own allocator, so the count runs only in the plain build.
static bool g_counting = false;
static unsigned long g_allocations = 0;

#if XELMD_COUNT_MALLOC
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t n) {
    if (g_counting) ++g_allocations;
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
    if (g_counting) ++g_allocations;
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
    if (g_counting) ++g_allocations;
    return __libc_realloc(p, n);
}
}
#endif

namespace {

using Api::MdApi;
using Api::MdApiProbe;
using DispatchTest = ApiUnitTest;
using TopicTest = ApiUnitTest;
using RequestTest = ApiUnitTest;

CTarnXeloDepthMarketDataField make_depth(const char* instrument, double last) {
    CTarnXeloDepthMarketDataField r = {};
    strcpy(r.TradingDay, "20250912");
    strcpy(r.InstrumentID, instrument);
    r.LastPrice = last;
    r.AskPrice5 = last + 5;
    return r;
}

std::string joined(const std::vector<std::string>& events) {
    std::string out;
    for (const std::string& e : events) out += (out.empty() ? "" : ";") + e;
    return out;
}

TEST_F(DispatchTest, PackageCallbacksDependOnlyOnTheSeries) {
    for (const TestTable::Row& r : TestTable::read("api/dispatch.data", "series")) {
        spi.events.clear();
        feed({static_cast<unsigned>(std::stoul(r[2], nullptr, 16)),
              static_cast<unsigned>(std::stoul(r[1])), 41, 'L', 99},
             r[3] == "info" ? wire::rsp_info(0, "") : "");
        EXPECT_EQ(joined(spi.events), TestTable::text(r, 4)) << r.line;
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

// The rows of one kind in dispatch.data, whole after the kind.
std::vector<std::string> texts(const std::string& kind) {
    std::vector<std::string> out;
    for (const TestTable::Row& r : TestTable::read("api/dispatch.data", kind))
        out.push_back(TestTable::text(r, 1));
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
    for (const TestTable::Row& r : TestTable::read("api/dispatch.data", "qry")) {
        std::string fields;
        std::istringstream words(r[2]);
        for (std::string w; words >> w;)
            fields += w == "info"
                          ? wire::rsp_info(0, "ok")
                          : wire::dissemination(std::stoi(w), std::stoi(w.substr(w.find('@') + 1)));
        spi.events.clear();
        const unsigned before = received();
        feed({0x4202, 1, 1, r[1][0], 8}, fields);
        EXPECT_EQ(joined(spi.events), TestTable::text(r, 4)) << r.line;
        EXPECT_EQ(received() - before, std::stoul(r[3])) << r.line;
    }
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "OnRspQryTopic,0,ok,SequenceSeries=\"3\" SequenceNo=\"10\"");
    EXPECT_EQ(lines[1], "OnRspQryTopic,SequenceSeries=\"5\" SequenceNo=\"20\"");
    EXPECT_EQ(lines[3], "OnRspQryTopic,0,ok,");
}

// Random snapshots and increments are the depth property test's; here a
// header with extension bytes, an older shorter record and the log line.
TEST_F(DispatchTest, ExtendedAndShortSnapshotsAreCachedAndLogged) {
    ASSERT_EQ(api.OpenResponseLog(log_path.c_str()), 0);
    feed({0x5803, 7, 1, 'L', 0}, wire::depth(make_depth("cu2510", 71000.5)), 3);
    // An older, shorter record: keyed by the instrument it does carry.
    feed({0x5803, 3, 2, 'L', 0},
         wire::field(0x2408, wire::depth(make_depth("short1", 5.0)).substr(4, 195)));
    ASSERT_NE(MdApiProbe::cached(&api, 7, "cu2510"), nullptr);
    EXPECT_EQ(MdApiProbe::cached(&api, 7, "cu2510")->LastPrice, 71000.5);
    ASSERT_NE(MdApiProbe::cached(&api, 3, "short1"), nullptr);
    EXPECT_EQ(MdApiProbe::cached(&api, 3, "short1")->LastPrice, 5.0);
    EXPECT_EQ(MdApiProbe::cached(&api, 3, "short1")->AskPrice5, 0.0);
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
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

// What a hostile front controls here: strings sent at their full width
// reach the callback terminated; past the cache's ceiling, updates of new
// instruments are dropped with one line while known ones go on.
TEST_F(DispatchTest, FullWidthStringsArriveTerminated) {
    CTarnXeloDepthMarketDataField r = {};
    memset(r.TradingDay, 'D', sizeof r.TradingDay);
    memset(r.InstrumentID, 'X', sizeof r.InstrumentID);
    feed({0x5803, 7, 1, 'L', 0}, wire::depth(r));
    feed({0x5902, 7, 2, 'L', 0}, wire::update_time(std::string(31, 'Y').c_str(), "09:30:01", 0,
                                                   std::string(9, 'D').c_str()));
    ASSERT_EQ(spi.depths.size(), 2u);
    for (const CTarnXeloDepthMarketDataField& d : spi.depths)
        EXPECT_EQ(strnlen(d.InstrumentID, sizeof d.InstrumentID), sizeof d.InstrumentID - 1);
    EXPECT_EQ(strnlen(spi.depths[0].TradingDay, sizeof r.TradingDay), sizeof r.TradingDay - 1);
    EXPECT_EQ(strnlen(spi.depths[1].ActionDay, sizeof r.ActionDay), sizeof r.ActionDay - 1);
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

// Topics a front announces unasked: the first takes the table's last free
// entry, the next ones get flows outside the table, up to their own bound.
TEST_F(TopicTest, AnnouncedTopicsTakeTheTableThenFlowsOutsideIt) {
    for (int t = 1; t < MdApi::MAX_TOPICS; ++t)
        ASSERT_EQ(api.SubscribeMarketDataTopic(t, TE_RESUME_FROM_BEGINNING), 0);
    // An announcement (on the dialogue series) stops at a field of another kind.
    const wire::Head announcement = {0x5901, 1, 1, 'L', 0};
    feed(announcement, wire::dissemination(300, 500) + wire::dissemination(100, 40) +
                           wire::dissemination(101, 50) + wire::rsp_info(0, "") +
                           wire::dissemination(102, 1));
    ASSERT_EQ(api.get_topic_count(), int{MdApi::MAX_TOPICS});
    const MdApi::TopicEntry& e = api.get_topic(MdApi::MAX_TOPICS - 1);
    EXPECT_EQ(e.topic_id, 300);
    EXPECT_EQ(e.resume_type, TE_RESUME_FROM_NOW);
    EXPECT_FALSE(e.send_at_login);  // the next login does not ask for it
    ASSERT_EQ(MdApiProbe::overflow_count(&api), 2);
    Network::XeloFlow* flow = MdApiProbe::overflow_flow(&api, 0);
    // Both are dispatched like any topic's, from their positions.
    deliver(e.flow, "cu2510");
    deliver(flow, "ag2512");
    EXPECT_EQ(spi.events, (std::vector<std::string>{"start 300 501", "depth cu2510", "end 300 501",
                                                    "start 100 41", "depth ag2512", "end 100 41"}));
    EXPECT_NE(MdApiProbe::cached(&api, 100, "ag2512"), nullptr);
    EXPECT_EQ(received(), 0u);
    // Announced again at the next login: the same flows, repositioned.
    feed(announcement, wire::dissemination(300, 20) + wire::dissemination(100, 7));
    EXPECT_EQ(MdApiProbe::overflow_count(&api), 2);
    EXPECT_EQ(api.get_topic(MdApi::MAX_TOPICS - 1).flow->get_count(), 20u);
    EXPECT_EQ(flow->get_count(), 7u);
    // The extra room has its own bound; what passes it is ignored.
    std::string many;
    for (int t = 200; t < 200 + MdApi::MAX_OVERFLOW_TOPICS; ++t) many += wire::dissemination(t, 1);
    feed(announcement, many);
    EXPECT_EQ(MdApiProbe::overflow_count(&api), int{MdApi::MAX_OVERFLOW_TOPICS});
    EXPECT_EQ(api.get_topic_count(), int{MdApi::MAX_TOPICS});
    api.recycle_overflow_flows();
}

// Bytes behind a text's terminator do not reach the key; an id is cut to
// 30 characters.
TEST(TopicKey, OnlyTheTopicAndTheTextTakePart) {
    Api::TopicInstrumentKey a, b;
    Api::set_topic_key(&a, 3, "cu2510");
    Api::set_topic_key(&b, 7, "cu2510");
    EXPECT_FALSE(Api::equal_topic_instrument(&a, &b));
    Api::set_topic_key(&a, 3, std::string(40, 'q').c_str());
    EXPECT_EQ(std::string(a.instrument), std::string(30, 'q'));
    // Texts ending at and across the hash's word boundaries, junk behind.
    for (int n : {0, 1, 7, 8, 9, 15, 16, 23, 24, 29, 30}) {
        char with_junk[40];
        memset(with_junk, 'j', sizeof with_junk);
        memset(with_junk, 'k', static_cast<size_t>(n));
        with_junk[n] = 0;
        Api::set_topic_key(&a, 5, std::string(static_cast<size_t>(n), 'k').c_str());
        Api::set_topic_key(&b, 5, with_junk);
        EXPECT_TRUE(Api::equal_topic_instrument(&a, &b)) << n;
        EXPECT_EQ(Api::hash_topic_instrument(&a), Api::hash_topic_instrument(&b)) << n;
        if (n == 30) continue;
        with_junk[n] = 'x';
        Api::set_topic_key(&b, 5, with_junk);
        EXPECT_FALSE(Api::equal_topic_instrument(&a, &b)) << n;
    }
}

// Update-time texts of every length, junk behind their terminator: the
// record gets the text and zeros behind it, the id from the key as is.
TEST(DepthGroup, UpdateTimeTextsAreCopiedUpToTheirEnd) {
    for (int n = 0; n <= 8; ++n) {
        Field::XelMarketDataUpdateTimeField time;
        memset(&time, '\xa5', sizeof time);
        memset(time.UpdateTime, '7', static_cast<size_t>(n));
        time.UpdateTime[n] = 0;
        memcpy(time.ActionDay, "20261207", 9);
        CTarnXeloDepthMarketDataField record;
        memset(&record, 'r', sizeof record);
        char instrument[31] = "cu2601";
        Api::apply_update_time(&record, &time, instrument);
        char expect[9] = {};
        memset(expect, '7', static_cast<size_t>(n));
        EXPECT_EQ(memcmp(record.UpdateTime, expect, sizeof expect), 0) << n;
        EXPECT_EQ(memcmp(record.ActionDay, "20261207", 9), 0) << n;
        EXPECT_EQ(memcmp(record.InstrumentID, instrument, sizeof instrument), 0) << n;
        EXPECT_EQ(record.UpdateMillisec, time.UpdateMillisec) << n;
    }
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
    EXPECT_EQ(api.ReqUserLogout(&logout, 1), int{MdApi::ERR_NOT_LOGGED_IN});
    EXPECT_EQ(api.ReqUserPasswordUpdate(&update, 2), int{MdApi::ERR_NOT_LOGGED_IN});
    EXPECT_EQ(api.ReqQryTopic(&topic, 3), int{MdApi::ERR_NOT_LOGGED_IN});
    EXPECT_TRUE(api.get_topic(4).send_at_login);
    EXPECT_EQ(api.ReqSubscribeTopic(&topic, 4), int{MdApi::ERR_NOT_LOGGED_IN});
    EXPECT_FALSE(api.get_topic(4).send_at_login);
    // A full table is refused before the table is looked at.
    ASSERT_EQ(api.SubscribeMarketDataTopic(64, TE_RESUME_FROM_NOW), 0);
    MdApiProbe::login(&api, "trader01", "P0001");
    topic.SequenceSeries = 3;
    EXPECT_EQ(api.ReqSubscribeTopic(&topic, 5), int{MdApi::ERR_TABLE_FULL});
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
    EXPECT_EQ(ToolTest::read_file(log_path),
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
    for (const TestTable::Row& c : TestTable::read("api/dispatch.data", "password")) {
        SCOPED_TRACE(c.line);
        CTarnXeloUserPasswordUpdateField r;
        memset(&r, 'x', sizeof r);
        strcpy(r.UserID, c[1].c_str());
        strcpy(r.ParticipantID, c[2].c_str());
        strcpy(r.OldPassword, "old-secret");
        strcpy(r.NewPassword, "new-secret");
        EXPECT_EQ(api.ReqUserPasswordUpdate(&r, 9), std::stoi(c[3]));
        EXPECT_EQ(r.ParticipantID[10], '\0');
        EXPECT_EQ(r.UserID[15], c[4] == "x" ? 'x' : '\0');
    }
    ASSERT_EQ(sent.units.size(), 1u);
    EXPECT_NE(sent.units[0].find("old-secret"), std::string::npos);  // the front gets them
    EXPECT_EQ(ToolTest::read_file(log_path),
              "20250912093000125,ReqUserPasswordUpdate,UserID=\"trader01\" "
              "ParticipantID=\"P0001\" OldPassword=\"\" NewPassword=\"\"\n");
}

// Random full snapshots and incremental groups, applied by the API and by a
// plain model written here from the group tables: the cached records and the
// records reported must agree.
typedef CTarnXeloDepthMarketDataField Depth;

struct Member {
    bool text;
    size_t offset, size;
};
#define T(name) \
    { true, offsetof(Depth, name), sizeof(Depth::name) }
#define N(name) \
    { false, offsetof(Depth, name), sizeof(Depth::name) }

// The incremental groups, in wire order, by hand.
const std::vector<Member> GROUPS[8] = {
    {T(TradingDay), T(SettlementGroupID), N(SettlementID), N(PreSettlementPrice), N(PreClosePrice),
     N(PreOpenInterest), N(PreDelta)},
    {N(OpenPrice), N(HighestPrice), N(LowestPrice), N(ClosePrice), N(UpperLimitPrice),
     N(LowerLimitPrice), N(SettlementPrice), N(CurrDelta)},
    {N(LastPrice), N(Volume), N(Turnover), N(OpenInterest)},
    {N(BidPrice1), N(BidVolume1), N(AskPrice1), N(AskVolume1)},
    {N(BidPrice2), N(BidVolume2), N(BidPrice3), N(BidVolume3)},
    {N(AskPrice2), N(AskVolume2), N(AskPrice3), N(AskVolume3)},
    {N(BidPrice4), N(BidVolume4), N(BidPrice5), N(BidVolume5)},
    {N(AskPrice4), N(AskVolume4), N(AskPrice5), N(AskVolume5)},
};
#undef T
#undef N

// Group g of src as it travels; applied to dst too when there is one.
std::string group_wire(int g, const Depth& src, Depth* dst) {
    std::string s;
    for (const Member& m : GROUPS[g]) {
        const char* at = reinterpret_cast<const char*>(&src) + m.offset;
        if (char* to = dst ? reinterpret_cast<char*>(dst) + m.offset : nullptr) {
            memcpy(to, at, m.size);
            if (m.text) to[m.size - 1] = 0;
        }
        if (m.text) {
            s += wire::text(at, m.size);
            continue;
        }
        unsigned long long bits = 0;  // an int's or a double's, sent big-endian
        memcpy(&bits, at, m.size);
        s += wire::be(bits, static_cast<int>(m.size));
    }
    return wire::field(0x2431 + static_cast<unsigned>(g), s);
}

// One group of an incremental packet, as the generator chose it.
struct Group {
    bool with_time;
    std::string instrument;
    Depth values;
    std::vector<int> fields;  // group indexes; -1 is a field the API ignores
};

class Generator {
  public:
    explicit Generator(unsigned seed) : rng_(seed) {}
    int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
    std::string instrument() {
        static const char* pool[] = {
            "cu2510", "cu2511", "ag2512", "au2512",
            "IF2509", "zn2510", "a",      "123456789012345678901234567890"};
        return pool[pick(8)];
    }
    Depth record(const std::string& instrument) {
        Depth r = {};
        char* base = reinterpret_cast<char*>(&r);
        const Base::FieldDesc& d = Field::XelDepthMarketDataField::DESC;
        for (int i = 0; i < d.member_count; ++i) {
            const Base::FieldDesc::MemberDesc* m = d.get_member_desc(i);
            char* at = base + m->offset;
            if (m->type == TYPE_STRING) {
                for (int n = pick(m->size); n > 0; --n) *at++ = static_cast<char>('0' + pick(75));
            } else if (m->size == 4) {
                int v = static_cast<int>(rng_());
                memcpy(at, &v, 4);
            } else {
                double v =
                    pick(10) == 0 ? 0.0 : std::uniform_real_distribution<double>(-1e9, 1e9)(rng_);
                memcpy(at, &v, 8);
            }
        }
        strcpy(r.InstrumentID, instrument.c_str());
        return r;
    }
    std::vector<Group> groups() {
        std::vector<Group> gs(static_cast<size_t>(1 + pick(3)));
        for (Group& g : gs) {
            g.with_time = pick(8) != 0;
            g.instrument = instrument();
            g.values = record(g.instrument);
            for (int n = pick(5); n > 0; --n) g.fields.push_back(pick(9) - 1);
        }
        return gs;
    }

  private:
    std::mt19937 rng_;
};

class DepthProperty : public ApiUnitTest {
  protected:
    void send(unsigned tid, unsigned topic, const std::string& fields) {
        feed({tid, topic, ++sequence, 'L', 0}, fields);
    }
    void full(unsigned topic, const Depth& r) {
        send(0x5803, topic, wire::depth(r));
        *select(topic, r.InstrumentID) = r;
        reported.push_back(r);
    }
    void incremental(unsigned topic, const std::vector<Group>& groups) {
        std::string fields;
        Depth* current = nullptr;
        for (const Group& g : groups) {
            const Depth& v = g.values;
            if (g.with_time) {
                fields += wire::update_time(g.instrument.c_str(), v.UpdateTime, v.UpdateMillisec,
                                            v.ActionDay);
                current = select(topic, g.instrument.c_str());
                strcpy(current->InstrumentID, g.instrument.substr(0, 30).c_str());
                strcpy(current->UpdateTime, v.UpdateTime);
                current->UpdateMillisec = v.UpdateMillisec;
                strcpy(current->ActionDay, v.ActionDay);
            }
            for (int f : g.fields) {
                if (f < 0) {
                    fields += wire::field(0x2440, std::string(12, '\x5a'));
                    continue;
                }
                fields += group_wire(f, v, current);
            }
        }
        send(0x5902, topic, fields);
        if (!current) return;
        reported.push_back(*current);
        ASSERT_FALSE(spi.depth_pointers.empty());
        EXPECT_EQ(spi.depth_pointers.back(), MdApiProbe::cached(&api, topic, current->InstrumentID))
            << "an increment reports the cached record itself";
    }
    // Member by member through the record's layout.
    void check(const char* when) {
        const Base::FieldDesc& d = Field::XelDepthMarketDataField::DESC;
        ASSERT_EQ(spi.depths.size(), reported.size()) << when;
        for (size_t i = 0; i < spi.depths.size(); ++i)
            ASSERT_TRUE(d.equal_field(&spi.depths[i], &reported[i])) << when << ": callback " << i;
        ASSERT_EQ(MdApiProbe::cache_size(&api), cache.size()) << when;
        for (const auto& e : cache) {
            const Depth* cached = MdApiProbe::cached(&api, e.first.first, e.first.second.c_str());
            ASSERT_NE(cached, nullptr) << when << " " << e.first.second;
            ASSERT_TRUE(d.equal_field(cached, &e.second)) << when << ": " << e.first.second;
        }
    }
    // The model's entry of an instrument (its first 30 characters).
    Depth* select(unsigned topic, const char* instrument) {
        auto key = std::make_pair(topic, std::string(instrument).substr(0, 30));
        return &cache.emplace(key, Depth{}).first->second;
    }

    std::map<std::pair<unsigned, std::string>, Depth> cache;
    std::vector<Depth> reported;
    unsigned sequence = 0;
};

TEST_F(DepthProperty, RandomStreamsAgreeWithTheModel) {
    for (unsigned seed = 11; seed < 16; ++seed) {
        Generator gen(seed);
        for (int i = 0; i < 2000; ++i) {
            const unsigned topics[] = {3, 7, 1001};
            unsigned topic = topics[gen.pick(3)];
            if (gen.pick(4) == 0)
                full(topic, gen.record(gen.instrument()));
            else
                incremental(topic, gen.groups());
        }
        check(("seed " + std::to_string(seed)).c_str());
        if (HasFatalFailure()) return;
    }
}

// Once an instrument is in the cache, dispatching its snapshots and
// incremental updates takes no memory.
// Counts callbacks without taking memory itself.
class CountingSpi final : public CTarnXeloMduserSpi {
  public:
    unsigned long depths = 0;
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField*) override { ++depths; }
};

class DispatchAllocation : public ApiUnitTest {
  protected:
    CountingSpi counting;  // outlives TearDown
};

TEST_F(DispatchAllocation, KnownInstrumentsTakeNoMemoryPerPacket) {
#if !XELMD_COUNT_MALLOC
    GTEST_SKIP() << "allocation counting needs the plain allocator";
#endif
    api.RegisterSpi(&counting);
    const char* ids[] = {"cu2510", "ag2512", "au2512", "IF2509"};
    std::vector<std::string> units;
    for (const char* id : ids) {
        CTarnXeloDepthMarketDataField r = {};
        strcpy(r.InstrumentID, id);
        units.push_back(wire::unit({0x5803, 3, 1, 'L', 0}, wire::depth(r)));
        units.push_back(wire::unit({0x5902, 3, 2, 'L', 0},
                                   wire::update_time(id, "09:30:00", 1, "20250912") +
                                       wire::field(0x2434, std::string(24, '\1'))));  // best prices
    }
    for (const std::string& u : units)  // the instruments become known
        api.on_write(0, u.data(), static_cast<unsigned short>(u.size()));
    g_allocations = 0;
    g_counting = true;
    for (int round = 0; round < 1000; ++round)
        for (const std::string& u : units)
            api.on_write(0, u.data(), static_cast<unsigned short>(u.size()));
    g_counting = false;
    EXPECT_EQ(g_allocations, 0u);
    EXPECT_EQ(counting.depths, 1001u * units.size());
    // The counter does count.
    g_counting = true;
    std::string* probe = new std::string(100, 'x');
    g_counting = false;
    delete probe;
    EXPECT_GT(g_allocations, 0u);
}

// The timer recycles once a second; a topic streaming faster than a block a
// second must not take new memory for all it receives in between.
TEST_F(DispatchAllocation, FastTopicReusesItsBlocksBetweenTimerPasses) {
    api.RegisterSpi(&counting);
    ASSERT_EQ(api.SubscribeMarketDataTopic(7, TE_RESUME_FROM_NOW), 0);
    // As Init makes a topic flow, with the smallest blocks.
    Network::XeloFlow flow(7, 1 << 20, 1 << 20, nullptr, &api, 0, nullptr, false, false);
    MdApiProbe::topic(&api, 0).flow = &flow;
    Network::XeloFlow::Writer writer(&flow, false);
    Field::XelDepthMarketDataField record = {};
    strcpy(record.InstrumentID, "cu2510");
    const unsigned long packets = 40000;  // about 14 MiB in 1 MiB blocks
    for (unsigned long k = 0; k < packets; ++k) {
        Network::XeloPacket* p = writer.alloc_packet(0x5803, 0);
        p->add_field(&Field::XelDepthMarketDataField::DESC, &record,
                     &Field::XelDepthMarketDataField::to_stream);
        writer.commit_packet(false);
    }
    EXPECT_EQ(counting.depths, packets);
    unsigned long held = 0;
    flow.get_buffer_count(held);
    // Every block but the last few went back for reuse: at most four blocks'
    // worth of packets plus one recycling interval are held.
    const unsigned long per_block = (1u << 20) / 360;
    EXPECT_GT(flow.get_recycle_count(), 0u);
    EXPECT_LE(held, 4 * per_block + MdApi::RECYCLE_EVERY);
    MdApiProbe::topic(&api, 0).flow = nullptr;
}

}  // namespace

TEST_F(DispatchAllocation, CacheCeilingDropsNewInstrumentsOnly) {
    api.RegisterSpi(&counting);
    const unsigned long ceiling = Api::MdApi::MAX_CACHED_INSTRUMENTS;
    char id[16];
    for (unsigned long i = 0; i < ceiling; ++i) {
        snprintf(id, sizeof id, "i%lu", i);
        feed({0x5902, 3, static_cast<unsigned>(i + 1), 'L', 0},
             wire::update_time(id, "09:30:00", 0, ""));
    }
    ASSERT_EQ(counting.depths, ceiling);
    testing::internal::CaptureStderr();
    feed({0x5902, 3, 1, 'L', 0}, wire::update_time("new1", "09:30:00", 0, ""));
    feed({0x5803, 3, 2, 'L', 0}, wire::depth(make_depth("new2", 1.0)));
    feed({0x5902, 3, 3, 'L', 0}, wire::update_time("i7", "09:30:01", 0, ""));
    feed({0x5803, 3, 4, 'L', 0}, wire::depth(make_depth("i8", 2.0)));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(counting.depths, ceiling + 2);
    EXPECT_EQ(MdApiProbe::cache_size(&api), ceiling);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("market-data cache full"), std::string::npos) << err;
}

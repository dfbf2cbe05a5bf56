#include "api/md_api.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/api/recording_spi.h"
#include "tests/test_table.h"
#include "tests/tools/process.h"

namespace {

class MdApiTest : public ::testing::Test {
  protected:
    Api::MdApi api{"", nullptr};
};

TEST_F(MdApiTest, AddressTablesCutTextsHoldTheirBoundAndEmptyEachOther) {
    const std::string path(300, 'p'), addr(100, 'a');
    EXPECT_EQ(std::string(Api::MdApi(path.c_str(), nullptr).get_flow_path()), path.substr(0, 255));
    EXPECT_STREQ(Api::MdApi(nullptr, nullptr).get_flow_path(), "");
    for (int i = 0; i < 16; ++i) ASSERT_EQ(api.RegisterNameServer("tcp://10.0.0.1:1"), 0);
    EXPECT_EQ(api.RegisterNameServer("tcp://10.0.0.1:2"), -8);
    EXPECT_EQ(api.get_front_mode(), '1');  // name servers leave the mode alone
    ASSERT_EQ(api.RegisterFront(addr.c_str()), 0);
    EXPECT_EQ(api.get_name_server_count(), 0);
    EXPECT_EQ(std::string(api.get_front(0)), addr.substr(0, 63));
    // A name server empties the table of fronts; the mode they set stays.
    // (The fronts' bound is the concurrent registration test's.)
    ASSERT_EQ(api.RegisterNameServer(addr.c_str()), 0);
    EXPECT_EQ(api.get_front_count(), 0);
    EXPECT_EQ(std::string(api.get_name_server(0)), addr.substr(0, 63));
    EXPECT_EQ(api.get_front_mode(), '0');
    for (int i = 1; i < 16; ++i) ASSERT_EQ(api.RegisterNameServer("y"), 0);
    EXPECT_EQ(api.RegisterNameServer("w"), -8);
}

TEST_F(MdApiTest, HeartbeatTimeoutIsClamped) {
    for (const TestTable::Row& r : TestTable::read("api/md_api.data", "clamp")) {
        EXPECT_EQ(api.SetHeartbeatTimeout(static_cast<unsigned>(std::stoul(r[1]))), 0);
        EXPECT_EQ(api.get_heartbeat_timeout(), std::stoul(r[2])) << r.line;
    }
}

TEST_F(MdApiTest, TopicTableKeepsTheLastResumeTypeAndSixtyFourTopics) {
    EXPECT_EQ(api.SubscribeMarketDataTopic(3, TE_RESUME_FROM_BEGINNING), 0);
    // An unknown resume type is stored as given, not refused.
    EXPECT_EQ(api.SubscribeMarketDataTopic(3, static_cast<TE_RESUME_TYPE>(7)), 0);
    EXPECT_EQ(api.get_topic(0).resume_type, 7);
    EXPECT_EQ(api.SubscribeMarketDataTopic(3, TE_RESUME_FROM_SAVED), 0);
    ASSERT_EQ(api.get_topic_count(), 1);
    EXPECT_EQ(api.get_topic(0).topic_id, 3);
    EXPECT_EQ(api.get_topic(0).resume_type, TE_RESUME_FROM_SAVED);
    EXPECT_TRUE(api.get_topic(0).send_at_login);
    EXPECT_EQ(api.get_topic(0).flow, nullptr);
    for (int t = 0; t < 64; ++t) ASSERT_EQ(api.SubscribeMarketDataTopic(t, TE_RESUME_FROM_NOW), 0);
    EXPECT_EQ(api.SubscribeMarketDataTopic(100, TE_RESUME_FROM_NOW), -8);
    // Refused even when present: the full table is not looked at.
    EXPECT_EQ(api.SubscribeMarketDataTopic(3, TE_RESUME_FROM_SAVED), -8);
    EXPECT_EQ(api.get_topic(0).resume_type, TE_RESUME_FROM_NOW);
    ASSERT_NE(api.get_market_data_subject(63), nullptr);
    EXPECT_EQ(api.get_market_data_subject(100), nullptr);
}

TEST(MdApiRunning, InitWithoutAddressesRunsAndRefusesLateConfiguration) {
    const std::string dir = ToolTest::temp_dir();
    Api::MdApi* api = new Api::MdApi(dir.c_str(), nullptr);
    EXPECT_EQ(api->Release(), -9);                        // before Init
    ASSERT_EQ(api->RegisterFront("tcp://127.0.0.1"), 0);  // no port: skipped at Init
    ASSERT_EQ(api->Init(), 0);
    EXPECT_TRUE(api->is_inited());
    EXPECT_EQ(api->Init(), -5);
    EXPECT_EQ(api->RegisterFront("tcp://127.0.0.1:1"), -10);
    EXPECT_EQ(api->RegisterNameServer("tcp://127.0.0.1:1"), -10);
    EXPECT_EQ(api->SubscribeMarketDataTopic(1, TE_RESUME_FROM_NOW), -10);
    EXPECT_EQ(api->SetHeartbeatTimeout(30), -10);
    CTarnXeloReqUserLoginField login{};
    strcpy(login.UserProductInfo, "p");
    EXPECT_EQ(api->ReqUserLogin(&login, 1), -12);  // never connected
    EXPECT_EQ(api->Release(), 0);
    api->Join();
    // Created at Init; the timer runs only while connected, so it stays empty.
    std::string con = dir + "/md.con";
    EXPECT_EQ(access(con.c_str(), F_OK), 0);
    EXPECT_EQ(ApiTest::read_file(con), "");
    ToolTest::remove_dir(dir);
}

TEST(MdApiRules, DisconnectionReasonsAreMapped) {
    for (const TestTable::Row& r : TestTable::read("api/md_api.data", "reason"))
        EXPECT_EQ(Api::MdApi::map_disconnect_reason(std::stoi(r[1])), std::stoi(r[2])) << r.line;
}

TEST(MdApiRules, HeartbeatWarningAfterHalfTheTimeoutAtMostOncePerHalf) {
    const unsigned long t0 = 10000000000UL;  // connection (or last warning)
    auto ticks = [](const std::string& s, const std::string& extra) {
        return std::stoul(s) * 10000000UL + std::stoul(extra);
    };
    for (const TestTable::Row& r : TestTable::read("api/md_api.data", "warning"))
        EXPECT_EQ(Api::MdApi::is_heartbeat_warning_due(ticks(r[1], r[2]), t0 + ticks(r[3], r[4]),
                                                       t0, static_cast<unsigned>(std::stoul(r[5]))),
                  r[6] == "1")
            << r.line;
}

// Application threads register at once on one object made by the factory;
// the tables must come out as some serial order of the calls leaves them:
// every slot filled exactly once with an address that was offered, whole.
TEST(MdApiThreads, ConcurrentRegistrationsLeaveConsistentTables) {
    std::unique_ptr<Api::MdApi> api(
        static_cast<Api::MdApi*>(CTarnXeloMduserApi::CreateXeloMduserApi("")));
    const int kThreads = 4, kEach = 24;  // 96 fronts offered to 64 slots
    auto address = [](int t, int i) {
        return "tcp://127.0.0.1:" + std::to_string(1000 * (t + 1) + i);
    };
    std::set<std::string> offered;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kEach; ++i) offered.insert(address(t, i));
    std::atomic<int> refused{0}, ready{0};
    // Phase 0 registers fronts and topics; phase 1 mixes fronts and name servers.
    auto run = [&](int phase) {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (++ready; ready < kThreads * (phase + 1);) std::this_thread::yield();
                for (int i = 0; i < kEach; ++i) {
                    const std::string a = address(t, i);
                    const bool front = phase == 0 || (i + t) % 2 == 0;
                    const int rc =
                        front ? api->RegisterFront(a.c_str()) : api->RegisterNameServer(a.c_str());
                    if (rc == Api::MdApi::ERR_TABLE_FULL) ++refused;
                    if (phase == 0) {
                        EXPECT_EQ(api->SubscribeMarketDataTopic(i, TE_RESUME_TYPE(t % 3)), 0);
                    }
                }
            });
        for (auto& th : threads) th.join();
    };
    auto check = [&](int count, const char* (Api::MdApi::*get)(int) const) {
        std::set<std::string> seen;
        for (int i = 0; i < count; ++i) {
            const std::string a = (api.get()->*get)(i);
            EXPECT_EQ(offered.count(a), 1u) << a;
            EXPECT_TRUE(seen.insert(a).second) << a;
        }
    };
    run(0);
    EXPECT_EQ(api->get_front_count(), 64);
    EXPECT_EQ(refused, kThreads * kEach - 64);
    check(64, &Api::MdApi::get_front);
    ASSERT_EQ(api->get_topic_count(), kEach);  // each id once, whoever came first
    std::set<int> topics;
    for (int i = 0; i < kEach; ++i) topics.insert(api->get_topic(i).topic_id);
    EXPECT_EQ(topics.size(), static_cast<size_t>(kEach));

    // Fronts and name servers empty each other: the kind that came last holds
    // the only non-empty table.
    run(1);
    const int fronts = api->get_front_count(), servers = api->get_name_server_count();
    EXPECT_NE(fronts == 0, servers == 0) << fronts << " " << servers;
    EXPECT_LE(servers, int{Api::MdApi::MAX_NAME_SERVERS});
    check(fronts, &Api::MdApi::get_front);
    check(servers, &Api::MdApi::get_name_server);
    EXPECT_EQ(api->get_front_mode(), '0');
}

TEST(LogFiles, OpenAppendsReopenClosesTheFirstAndBadPathsGiveMinusFour) {
    const std::string dir = ToolTest::temp_dir(), a = dir + "/a.log", b = dir + "/b.log";
    std::ofstream(a) << "earlier\n";
    {
        Api::MdApi api("", nullptr);
        EXPECT_EQ(api.OpenRequestLog((dir + "/missing/dir/req.log").c_str()), -4);
        EXPECT_EQ(api.OpenResponseLog((dir + "/missing/dir/rsp.log").c_str()), -4);
        EXPECT_EQ(api.OpenRequestLog(nullptr), -4);
        EXPECT_EQ(api.OpenRequestLog(a.c_str()), 0);
        EXPECT_EQ(api.OpenRequestLog(b.c_str()), 0);
        EXPECT_EQ(api.OpenResponseLog(a.c_str()), 0);
    }
    EXPECT_EQ(ApiTest::read_file(a), "earlier\n");  // appended to, never truncated
    EXPECT_EQ(access(b.c_str(), F_OK), 0);
    ToolTest::remove_dir(dir);
}

}  // namespace

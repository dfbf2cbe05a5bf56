// The API object's configuration, rules and files, without a connection.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/connection_file.h"
#include "api/md_api.h"
#include "tests/api/recording_spi.h"
#include "tests/test_table.h"
#include "tests/tools/process.h"

namespace {

// Before Init: the tables cut their texts and hold their bounds, the
// heartbeat timeout is clamped.
TEST(MdApiConfiguration, TablesCutTextsAndHoldTheirBoundsTimeoutIsClamped) {
    Api::MdApi api("", nullptr);
    const std::string path(300, 'p'), addr(100, 'a');
    EXPECT_EQ(std::string(Api::MdApi(path.c_str(), nullptr).get_flow_path()), path.substr(0, 255));
    EXPECT_STREQ(Api::MdApi(nullptr, nullptr).get_flow_path(), "");
    for (int i = 0; i < 16; ++i) ASSERT_EQ(api.RegisterNameServer(addr.c_str()), 0);
    EXPECT_EQ(std::string(api.get_name_server(15)), addr.substr(0, 63));
    EXPECT_EQ(api.RegisterNameServer("tcp://10.0.0.1:2"), -8);
    EXPECT_EQ(api.get_front_mode(), '1');  // name servers leave the mode alone
    ASSERT_EQ(api.RegisterFront(addr.c_str()), 0);
    EXPECT_EQ(api.get_name_server_count(), 0);
    EXPECT_EQ(std::string(api.get_front(0)), addr.substr(0, 63));
    // A name server empties the table of fronts; the mode they set stays.
    // (The fronts' bound is the concurrent registration test's.)
    ASSERT_EQ(api.RegisterNameServer("tcp://10.0.0.1:3"), 0);
    EXPECT_EQ(api.get_front_count(), 0);
    EXPECT_EQ(api.get_front_mode(), '0');

    // An unknown resume type is stored as given, not refused; the last stays.
    EXPECT_EQ(api.SubscribeMarketDataTopic(3, static_cast<TE_RESUME_TYPE>(7)), 0);
    EXPECT_EQ(api.get_topic(0).resume_type, 7);
    EXPECT_EQ(api.SubscribeMarketDataTopic(3, TE_RESUME_FROM_SAVED), 0);
    ASSERT_EQ(api.get_topic_count(), 1);
    EXPECT_EQ(api.get_topic(0).resume_type, TE_RESUME_FROM_SAVED);
    for (int t = 0; t < 64; ++t) ASSERT_EQ(api.SubscribeMarketDataTopic(t, TE_RESUME_FROM_NOW), 0);
    // Refused even when present: the full table is not looked at.
    EXPECT_EQ(api.SubscribeMarketDataTopic(3, TE_RESUME_FROM_SAVED), -8);
    EXPECT_EQ(api.get_topic(0).resume_type, TE_RESUME_FROM_NOW);
    ASSERT_NE(api.get_market_data_subject(63), nullptr);
    EXPECT_EQ(api.get_market_data_subject(100), nullptr);

    for (const TestTable::Row& r : TestTable::read("api/md_api.data", "clamp")) {
        EXPECT_EQ(api.SetHeartbeatTimeout(static_cast<unsigned>(std::stoul(r[1]))), 0);
        EXPECT_EQ(api.get_heartbeat_timeout(), std::stoul(r[2])) << r.line;
    }
}

// Logs open before Init: bad paths give -4, a log is appended to, never
// truncated, and opening another closes the first. Init without a usable
// address runs, and refuses configuration after it.
TEST(MdApiRunning, LogsThenInitWithoutAddressesRunsAndRefusesLateConfiguration) {
    const std::string dir = ToolTest::temp_dir(), a = dir + "/a.log", b = dir + "/b.log";
    ToolTest::write_file(a, "earlier\n");
    Api::MdApi* api = new Api::MdApi(dir.c_str(), nullptr);
    EXPECT_EQ(api->OpenRequestLog((dir + "/missing/dir/req.log").c_str()), -4);
    EXPECT_EQ(api->OpenResponseLog((dir + "/missing/dir/rsp.log").c_str()), -4);
    EXPECT_EQ(api->OpenRequestLog(nullptr), -4);
    EXPECT_EQ(api->OpenRequestLog(a.c_str()), 0);
    EXPECT_EQ(api->OpenRequestLog(b.c_str()), 0);
    EXPECT_EQ(api->OpenResponseLog(a.c_str()), 0);
    CTarnXeloReqUserLoginField login{};
    strcpy(login.UserProductInfo, "p");
    EXPECT_EQ(api->ReqUserLogin(&login, 1), -9);  // before Init
    EXPECT_EQ(api->Release(), -9);
    ASSERT_EQ(api->RegisterFront("tcp://127.0.0.1"), 0);  // no port: skipped at Init
    ASSERT_EQ(api->Init(), 0);
    EXPECT_TRUE(api->is_inited());
    EXPECT_EQ(api->Init(), -5);
    EXPECT_EQ(api->RegisterFront("tcp://127.0.0.1:1"), -10);
    EXPECT_EQ(api->RegisterNameServer("tcp://127.0.0.1:1"), -10);
    EXPECT_EQ(api->SubscribeMarketDataTopic(1, TE_RESUME_FROM_NOW), -10);
    EXPECT_EQ(api->SetHeartbeatTimeout(30), -10);
    EXPECT_EQ(api->ReqUserLogin(&login, 1), -12);  // never connected
    EXPECT_EQ(api->Release(), 0);
    api->Join();
    EXPECT_EQ(ToolTest::read_file(a), "earlier\n");
    EXPECT_EQ(access(b.c_str(), F_OK), 0);
    // Created at Init; the timer runs only while connected, so it stays empty.
    std::string con = dir + "/md.con";
    EXPECT_EQ(access(con.c_str(), F_OK), 0);
    EXPECT_EQ(ToolTest::read_file(con), "");
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

class ConnectionFileTest : public ::testing::Test {
  protected:
    void SetUp() override { Api::ConnectionFile::make_path(path_, dir_.c_str()); }
    void TearDown() override { ToolTest::remove_dir(dir_); }
    std::string dir_ = ToolTest::temp_dir();
    char path_[256];
    char day_[9] = {};
    int center_ = 0;
};

TEST(ConnectionFilePath, FlowPathThenSlashThenName) {
    char out[256];
    const std::string long_dir(300, 'd');
    const std::pair<std::string, std::string> cases[] = {
        {"", "./md.con"}, {"/var/flow", "/var/flow/md.con"}, {long_dir, long_dir.substr(0, 255)}};
    for (const auto& c : cases) {
        Api::ConnectionFile::make_path(out, c.first.c_str());
        EXPECT_EQ(out, c.second);
    }
}

TEST_F(ConnectionFileTest, Reading) {
    std::string seventy = "20250912,  1\n";
    for (int i = 1; i <= 70; ++i)
        seventy += std::to_string(i) + "," + std::to_string(i * 10) + "\n";
    const struct {
        std::string text;
        std::vector<int> topics;
        std::string want;  // day, data center, topic lines kept, topic=count (0: none)
    } cases[] = {
        // Topics match on their low 16 bits.
        {"20250912,  7\n    3,      1200\n    5,        40\n",
         {3, 5, 9, 65536 + 3},
         "20250912 7 2 3=1200 5=40 9=0 65539=1200"},
        // A garbage first line keeps the day, topic lines are still read.
        {"garbage\n    3,      1200\nnot a topic\n\n12,\n    4,99\r\n",
         {3, 4, 12},
         " 0 2 3=1200 4=99 12=0"},
        {seventy, {64, 65}, "20250912 1 64 64=640 65=0"},  // at most 64 lines
    };
    for (const auto& c : cases) {
        ToolTest::write_file(path_, c.text);
        strcpy(day_, "");
        center_ = 0;
        Api::ConnectionFile file;
        ASSERT_TRUE(file.open(path_, day_, center_));
        std::string got = std::string(day_) + " " + std::to_string(center_) + " " +
                          std::to_string(file.get_saved_count());
        for (int t : c.topics)
            got += " " + std::to_string(t) + "=" + std::to_string(file.get_saved(t));
        EXPECT_EQ(got, c.want);
    }
}

TEST_F(ConnectionFileTest, WritesFixedColumnsAndCutsTheRest) {
    ToolTest::write_file(path_,
                         "20250912,  7\n    3,      1200\n    5,        40\n    6,        41\n");
    Api::ConnectionFile file;
    ASSERT_TRUE(file.open(path_, day_, center_));
    EXPECT_EQ(file.get_length(), 13 + 3 * 17);
    file.begin(day_, center_);
    file.add_topic(3, 1201);
    file.add_topic(5, 0x100000028UL);  // the count's low 32 bits
    ASSERT_TRUE(file.write());
    EXPECT_EQ(ToolTest::read_file(path_), "20250912,  7\n    3,      1201\n    5,        40\n");
    EXPECT_EQ(file.get_length(), 13 + 2 * 17);
    file.begin("", 0);  // an empty trading day is written as 0
    ASSERT_TRUE(file.write());
    EXPECT_EQ(ToolTest::read_file(path_), "       0,  0\n");
    file.begin("20250912", 7);
    for (int t = 0; t < 70; ++t) file.add_topic(t, 4294967295UL);
    ASSERT_TRUE(file.write());
    EXPECT_EQ(ToolTest::read_file(path_).size(), 13u + 64 * 17);  // at most 64 lines
}

TEST_F(ConnectionFileTest, MissingFileIsCreatedUnopenableOneReported) {
    Api::ConnectionFile file;
    ASSERT_TRUE(file.open(path_, day_, center_));
    EXPECT_EQ(file.get_length(), 0);
    std::string bad = dir_ + "/missing/md.con";
    Api::ConnectionFile other;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(other.open(bad.c_str(), day_, center_));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERR! open file failed: [" + bad + "]\n");
    EXPECT_FALSE(other.is_open());
    other.begin("20250912", 7);
    EXPECT_FALSE(other.write());
}

}  // namespace

// The client library end to end, through its public interface only, against
// xelmd-front processes on loopback: every key mode, snapshots and
// increments, a topic subscribed after the login, resume after a restart from
// the connection file, failover when a front is killed, name-server
// discovery, each scripted fault giving its disconnection reason followed by
// a reconnection, and shutdown with a client connected.
#include <TarnXeloMduserApi.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "../../api/recording_spi.h"
#include "../process.h"

namespace {

const int TOPIC = 100;
const char* const TABLE = "tools/front/end_to_end.data";

using ToolTest::FrontProcess;

bool start(FrontProcess& front, std::vector<std::string> args) {
    args.insert(args.end(), {"--rate", "100", "--snapshot-every", "10"});
    return front.start(XELMD_FRONT_BIN, args);
}

// The library with its callbacks recorded as lines, logging in as demo
// whenever a front is connected; crossed books (bid >= ask) are noted.
class Client : public ApiTest::RecordingSpi {
  public:
    Client(const std::string& flow_path, const std::vector<std::string>& fronts,
           const std::vector<std::string>& name_servers, TE_RESUME_TYPE resume,
           unsigned int heartbeat = 0)
        : api(CTarnXeloMduserApi::CreateXeloMduserApi(flow_path.c_str())) {
        api->RegisterSpi(this);
        for (const auto& f : fronts) api->RegisterFront(f.c_str());
        for (const auto& n : name_servers) api->RegisterNameServer(n.c_str());
        api->SubscribeMarketDataTopic(TOPIC, resume);
        if (heartbeat != 0) api->SetHeartbeatTimeout(heartbeat);
        init_result = api->Init();
    }
    ~Client() {
        if (init_result != 0) return;  // a failed Init, already reported, has no Release
        api->Release();
        api->Join();
    }
    void OnFrontConnected() override {
        RecordingSpi::OnFrontConnected();
        CTarnXeloReqUserLoginField login = {};
        strcpy(login.UserID, "demo");
        strcpy(login.Password, "demo");
        strcpy(login.UserProductInfo, "e2e");
        api->ReqUserLogin(&login, count("connected"));
    }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* d) override {
        if (d->BidPrice1 < DBL_MAX && d->AskPrice1 < DBL_MAX && d->BidPrice1 >= d->AskPrice1)
            add("crossed");
        RecordingSpi::OnRtnDepthMarketData(d);
    }
    // What follows prefix in the lines that begin with it, in order.
    std::vector<std::string> after(const std::string& prefix) {
        std::vector<std::string> out;
        for (const std::string& l : lines())
            if (l.rfind(prefix, 0) == 0) out.push_back(l.substr(prefix.size()));
        return out;
    }
    // A topic's packet numbers, and whether they run on by one.
    std::vector<int> sequences(int topic = TOPIC) {
        std::vector<int> out;
        for (const std::string& n : after("start " + std::to_string(topic) + " "))
            out.push_back(std::stoi(n));
        return out;
    }
    bool gapless(int topic = TOPIC) {
        std::vector<int> seq = sequences(topic);
        for (size_t i = 1; i < seq.size(); ++i)
            if (seq[i] != seq[i - 1] + 1) return false;
        return true;
    }

    CTarnXeloMduserApi* api;
    int init_result = -1;
};

TEST(EndToEnd, EveryKeyModeLogsInAndMergesSnapshotsAndIncrements) {
    for (const TestTable::Row& r : TestTable::read(TABLE, "mode")) {
        SCOPED_TRACE(TestTable::where(TABLE, r));
        FrontProcess front;
        ASSERT_TRUE(start(front, {"--key-mode", r[1], "--cipher-type", r[2]}));
        Client client(front.dir, {front.address()}, {}, TE_RESUME_FROM_BEGINNING);
        ASSERT_EQ(client.init_result, 0);
        ASSERT_TRUE(client.wait_for("depth ", 60, 15000, true)) << front.log();
        EXPECT_EQ(client.count("login ", true), 1);
        EXPECT_EQ(client.count("login 0:", true), 1);
        EXPECT_EQ(client.sequences().front(), 1) << "from the beginning";
        EXPECT_TRUE(client.gapless());
        EXPECT_EQ(client.count("crossed"), 0);
        EXPECT_EQ(client.count("disconnected", true), 0);
    }
}

TEST(EndToEnd, LiveTopicsScriptedStallAndDropOfOneConnectionAndShutdown) {
    FrontProcess front;
    const std::string scenario = front.dir + "/scenario.json", second_dir = front.dir + "/2";
    // The first connection stalls for 4 s: past half its 6 s heartbeat
    // timeout (a warning), not past all of it (no disconnection, no loss).
    ToolTest::write_file(scenario, R"({"faults": [{"action": "drop", "after": 0.2, "connection": 2},
        {"action": "stall", "after": 0.1, "seconds": 4, "connection": 1}]})");
    ASSERT_TRUE(start(front, {"--topics", "100,200", "--scenario", scenario}));
    // The first client: topic 100 from the start, then topic 200 subscribed.
    Client first(front.dir, {front.address()}, {}, TE_RESUME_FROM_BEGINNING, 6);
    ASSERT_TRUE(first.wait_for("login 0:", 1, 5000, true));
    CTarnXeloDisseminationField topic200 = {200, 0};
    ASSERT_EQ(first.api->ReqSubscribeTopic(&topic200, 2), 0);
    ASSERT_TRUE(first.wait_for("start 200 ", 100, 10000, true));
    EXPECT_EQ(first.count("subscribe 200@0 0:", true), 1);
    for (int topic : {100, 200}) {
        EXPECT_EQ(first.sequences(topic).front(), 1) << topic;
        EXPECT_TRUE(first.gapless(topic)) << topic;
    }
    // The second connection is dropped by the scenario; the first lives on.
    ASSERT_EQ(mkdir(second_dir.c_str(), 0755), 0);
    Client second(second_dir, {front.address()}, {}, TE_RESUME_FROM_BEGINNING);
    ASSERT_TRUE(second.wait_for("disconnected 4097"));
    EXPECT_EQ(second.count("login 0:", true), 1);
    const int before = first.count("start 100 ", true);
    ASSERT_TRUE(first.wait_for("start 100 ", before + 20, 5000, true));
    EXPECT_EQ(first.count("disconnected", true), 0);
    EXPECT_GE(first.count("heartbeat ", true), 1);
    // Stopping the front disconnects the clients.
    front.stop();
    EXPECT_TRUE(first.wait_for("disconnected 4097"));
}

// Both runs find the front through its name server, which answers each.
TEST(EndToEnd, ResumesAfterARestartFromTheConnectionFile) {
    FrontProcess front;
    ASSERT_TRUE(start(front, {"--name-server", "127.0.0.1:0"}));
    ASSERT_EQ(front.ports.size(), 2u);
    int last = 0;
    {
        Client first(front.dir, {}, {front.address(1)}, TE_RESUME_FROM_SAVED);
        ASSERT_EQ(first.init_result, 0);
        ASSERT_TRUE(first.wait_for("start 100 ", 40, 15000, true));
        last = first.sequences().back();
    }
    // The connection file holds the count reached when the client stopped.
    std::ifstream con(front.dir + "/md.con");
    std::string line;
    std::getline(con, line);  // the trading day's
    int topic = 0, saved = -1;
    while (std::getline(con, line) &&
           !(sscanf(line.c_str(), "%d,%d", &topic, &saved) == 2 && topic == TOPIC)) {
    }
    ASSERT_EQ(topic, TOPIC);
    EXPECT_GE(saved, last) << "nothing the first run saw is asked again";
    Client second(front.dir, {}, {front.address(1)}, TE_RESUME_FROM_SAVED);
    ASSERT_EQ(second.init_result, 0);
    ASSERT_TRUE(second.wait_for("start 100 ", 1, 15000, true));
    EXPECT_EQ(second.sequences().front(), saved + 1) << "nothing lost, nothing repeated";
}

TEST(EndToEnd, FailsOverWhenItsFrontIsKilled) {
    FrontProcess a, b;
    ASSERT_TRUE(start(a, {}));
    ASSERT_TRUE(start(b, {}));
    Client client(a.dir, {a.address(), b.address()}, {}, TE_RESUME_FROM_BEGINNING);
    ASSERT_EQ(client.init_result, 0);
    ASSERT_TRUE(client.wait_for("depth ", 20, 15000, true));
    // Whichever front took the client says so in its status line.
    usleep(1500000);
    auto has_client = [](const FrontProcess& f) {
        std::string log = f.log();
        size_t at = log.rfind("client(s)");
        return at != std::string::npos && at >= 2 && log[at - 2] == '1';
    };
    FrontProcess& victim = has_client(a) ? a : b;
    ASSERT_TRUE(has_client(victim)) << a.log() << b.log();
    victim.stop(SIGKILL);
    ASSERT_TRUE(client.wait_for("disconnected ", 1, 15000, true));
    EXPECT_EQ(client.after("disconnected ")[0], "4097");
    const int before = client.count("depth ", true);
    ASSERT_TRUE(client.wait_for("login 0:", 2, 20000, true));
    ASSERT_TRUE(client.wait_for("depth ", before + 20, 20000, true));
}

TEST(EndToEnd, EachScriptedFaultDisconnectsWithItsReasonThenReconnects) {
    for (const TestTable::Row& r : TestTable::read(TABLE, "fault")) {
        SCOPED_TRACE(TestTable::where(TABLE, r));
        const std::string& reason = r[1];
        FrontProcess front;
        std::string scenario = front.dir + "/scenario.json";
        ToolTest::write_file(scenario, "{\"faults\": [" + TestTable::text(r, 2) + "]}");
        ASSERT_TRUE(start(front, {"--scenario", scenario}));
        Client client(front.dir, {front.address()}, {}, TE_RESUME_FROM_BEGINNING, 5);
        ASSERT_EQ(client.init_result, 0);
        ASSERT_TRUE(client.wait_for("disconnected ", 1, 30000, true)) << front.log();
        EXPECT_EQ(client.after("disconnected ")[0], reason);
        // Only silence warns first, once half the timeout has passed.
        const std::vector<std::string> warned = client.after("heartbeat ");
        EXPECT_EQ(warned.empty(), reason != "8193");
        const std::string first = warned.empty() ? "2" : warned[0];
        EXPECT_TRUE(first == "2" || first == "3") << first;
        // The next connection has no fault: logged in, data flows on.
        const int before = client.count("depth ", true);
        ASSERT_TRUE(client.wait_for("connected", 2, 30000)) << front.log();
        ASSERT_TRUE(client.wait_for("depth ", before + 10, 30000, true)) << front.log();
        EXPECT_EQ(client.after("login ").back().substr(0, 2), "0:");
        EXPECT_TRUE(client.gapless() || reason != "8197");
    }
}

}  // namespace

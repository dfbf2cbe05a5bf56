// The client library end to end, through its public interface only, against
// xelmd-front processes on loopback: every key mode, snapshots and
// increments, resume after a restart from the connection file, failover when
// a front is killed, name-server discovery, and each scripted fault giving
// its disconnection reason followed by a reconnection.
#include <TarnXeloMduserApi.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../process.h"

namespace {

const int TOPIC = 100;
CTarnXeloMduserApi* g_unreleased[256];
int g_unreleased_count = 0;

using ToolTest::FrontProcess;

bool start(FrontProcess& front, std::vector<std::string> args) {
    args.insert(args.end(), {"--rate", "100", "--snapshot-every", "10"});
    return front.start(XELMD_FRONT_BIN, args);
}

// Records the callbacks and logs in whenever a front is connected.
class Recorder : public CTarnXeloMduserSpi {
  public:
    virtual ~Recorder() = default;

    CTarnXeloMduserApi* api = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    // What was seen; written by the callbacks and read under the mutex.
    struct Seen {
        int connected = 0;
        std::vector<int> disconnects;
        std::vector<int> logins;  // ErrorID of each login response
        std::vector<int> errors;
        std::vector<int> sequences;  // OnPackageStart of the topic, in order
        unsigned long depth = 0;
        unsigned long crossed = 0;  // books with bid >= ask
    } seen;

    void OnFrontConnected() override {
        int n = 0;
        note([&] { n = ++seen.connected; });
        CTarnXeloReqUserLoginField login;
        memset(&login, 0, sizeof login);
        strcpy(login.UserID, "demo");
        strcpy(login.Password, "demo");
        strcpy(login.UserProductInfo, "e2e");
        api->ReqUserLogin(&login, n);
    }
    void OnFrontDisconnected(int reason) override {
        note([&] { seen.disconnects.push_back(reason); });
    }
    void OnRspError(CTarnXeloRspInfoField* info, int, bool) override {
        note([&] { seen.errors.push_back(info ? info->ErrorID : -1); });
    }
    void OnRspUserLogin(CTarnXeloRspUserLoginField*, CTarnXeloRspInfoField* info, int,
                        bool) override {
        note([&] { seen.logins.push_back(info ? info->ErrorID : -1); });
    }
    void OnPackageStart(int topic, int sequence) override {
        if (topic == TOPIC) note([&] { seen.sequences.push_back(sequence); });
    }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* d) override {
        note([&] {
            ++seen.depth;
            if (d->BidPrice1 < DBL_MAX && d->AskPrice1 < DBL_MAX && d->BidPrice1 >= d->AskPrice1)
                ++seen.crossed;
        });
    }

    void note(const std::function<void()>& f) {
        std::lock_guard<std::mutex> lock(mutex);
        f();
        changed.notify_all();
    }
    // Waits until done(seen) holds, under the mutex.
    bool wait(const std::function<bool(const Seen&)>& done, int seconds = 15) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(seconds), [&] { return done(seen); });
    }
    Seen get() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }
};

struct Client {
    Recorder spi;
    CTarnXeloMduserApi* api;
    int init_result = 0;

    Client(const std::string& flow_path, const std::vector<std::string>& fronts,
           const std::vector<std::string>& name_servers, TE_RESUME_TYPE resume,
           unsigned int heartbeat = 0) {
        api = CTarnXeloMduserApi::CreateXeloMduserApi(flow_path.c_str());
        spi.api = api;
        api->RegisterSpi(&spi);
        for (const auto& f : fronts) api->RegisterFront(f.c_str());
        for (const auto& n : name_servers) api->RegisterNameServer(n.c_str());
        api->SubscribeMarketDataTopic(TOPIC, resume);
        if (heartbeat != 0) api->SetHeartbeatTimeout(heartbeat);
        init_result = api->Init();
    }
    ~Client() {
        if (init_result == 0) {
            api->Release();
            api->Join();
        } else {
            // Without a successful Init there is no Release: keep it reachable
            // (in static storage, which outlives the leak check at exit).
            if (g_unreleased_count < 256) g_unreleased[g_unreleased_count++] = api;
        }
    }
    // Sequence numbers of the topic run on by one from the first.
    bool gapless() {
        std::vector<int> seq = spi.get().sequences;
        for (size_t i = 1; i < seq.size(); ++i)
            if (seq[i] != seq[i - 1] + 1) return false;
        return true;
    }
};

TEST(EndToEnd, EveryKeyModeLogsInAndMergesSnapshotsAndIncrements) {
    struct {
        const char* mode;
        const char* type;
    } cases[] = {{"none", "0"}, {"masked", "1"}, {"masked", "2"}, {"masked", "3"}, {"sm2", "4"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.type);
        FrontProcess front;
        ASSERT_TRUE(start(front, {"--key-mode", c.mode, "--cipher-type", c.type}));
        Client client(front.dir, {front.address()}, {}, TE_RESUME_FROM_BEGINNING);
        ASSERT_EQ(client.init_result, 0);
        Recorder& s = client.spi;
        ASSERT_TRUE(s.wait([](const Recorder::Seen& v) { return v.depth >= 60; })) << front.log();
        Recorder::Seen v = s.get();
        EXPECT_EQ(v.logins, std::vector<int>{0});
        EXPECT_EQ(v.sequences.front(), 1) << "from the beginning";
        EXPECT_TRUE(client.gapless());
        EXPECT_EQ(v.crossed, 0u);
        EXPECT_TRUE(v.disconnects.empty());
    }
}

TEST(EndToEnd, ResumesAfterARestartFromTheConnectionFile) {
    FrontProcess front;
    ASSERT_TRUE(start(front, {}));
    int last = 0;
    {
        Client first(front.dir, {front.address()}, {}, TE_RESUME_FROM_SAVED);
        ASSERT_EQ(first.init_result, 0);
        ASSERT_TRUE(
            first.spi.wait([](const Recorder::Seen& v) { return v.sequences.size() >= 40; }));
        last = first.spi.get().sequences.back();
    }
    // The connection file holds the count reached when the client stopped.
    std::ifstream con(front.dir + "/md.con");
    std::string line;
    std::getline(con, line);
    int topic = 0, saved = -1;
    while (std::getline(con, line))
        if (sscanf(line.c_str(), "%d,%d", &topic, &saved) == 2 && topic == TOPIC) break;
    ASSERT_EQ(topic, TOPIC);
    EXPECT_GE(saved, last) << "nothing the first run saw is asked again";
    Client second(front.dir, {front.address()}, {}, TE_RESUME_FROM_SAVED);
    ASSERT_EQ(second.init_result, 0);
    ASSERT_TRUE(second.spi.wait([](const Recorder::Seen& v) { return !v.sequences.empty(); }));
    EXPECT_EQ(second.spi.get().sequences.front(), saved + 1) << "nothing lost, nothing repeated";
}

TEST(EndToEnd, FailsOverWhenItsFrontIsKilled) {
    FrontProcess a, b;
    ASSERT_TRUE(start(a, {}));
    ASSERT_TRUE(start(b, {}));
    Client client(a.dir, {a.address(), b.address()}, {}, TE_RESUME_FROM_BEGINNING);
    ASSERT_EQ(client.init_result, 0);
    Recorder& s = client.spi;
    ASSERT_TRUE(s.wait([](const Recorder::Seen& v) { return v.depth >= 20; }));
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
    ASSERT_TRUE(s.wait([](const Recorder::Seen& v) { return !v.disconnects.empty(); }));
    EXPECT_EQ(s.get().disconnects[0], 4097);
    unsigned long before = s.get().depth;
    ASSERT_TRUE(s.wait(
        [&](const Recorder::Seen& v) { return v.logins.size() == 2 && v.depth > before + 20; },
        20));
    EXPECT_EQ(s.get().logins[1], 0);
}

TEST(EndToEnd, FindsTheFrontThroughTheNameServer) {
    FrontProcess front;
    ASSERT_TRUE(start(front, {"--name-server", "127.0.0.1:0"}));
    ASSERT_EQ(front.ports.size(), 2u);
    Client client(front.dir, {}, {front.address(1)}, TE_RESUME_FROM_NOW);
    ASSERT_EQ(client.init_result, 0);
    ASSERT_TRUE(client.spi.wait([](const Recorder::Seen& v) { return v.depth >= 10; }));
    EXPECT_EQ(client.spi.get().logins, std::vector<int>{0});
}

TEST(EndToEnd, EachScriptedFaultDisconnectsWithItsReasonThenReconnects) {
    struct {
        const char* fault;
        int reason;
    } cases[] = {
        {R"({"action": "drop", "after": 0.5})", 4097},
        {R"({"action": "garbage", "after": 0.5})", 4097},
        {R"({"action": "bad_sequence", "after": 0.5})", 8197},
        {R"({"action": "oversized_frame", "after": 0.5})", 8198},
        {R"({"action": "key_error"})", 8195},
        {R"({"action": "stall", "after": 0.5})", 8193},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        FrontProcess front;
        std::string scenario = front.dir + "/scenario.json";
        ToolTest::write_file(scenario, std::string("{\"faults\": [") + c.fault + "]}");
        ASSERT_TRUE(start(front, {"--scenario", scenario}));
        Client client(front.dir, {front.address()}, {}, TE_RESUME_FROM_BEGINNING, 5);
        ASSERT_EQ(client.init_result, 0);
        Recorder& s = client.spi;
        ASSERT_TRUE(s.wait([](const Recorder::Seen& v) { return !v.disconnects.empty(); }, 30))
            << front.log();
        EXPECT_EQ(s.get().disconnects[0], c.reason);
        // The next connection has no fault: logged in, data flows on.
        unsigned long before = s.get().depth;
        ASSERT_TRUE(s.wait(
            [&](const Recorder::Seen& v) { return v.connected >= 2 && v.depth > before + 10; }, 30))
            << front.log();
        EXPECT_EQ(s.get().logins.back(), 0);
        EXPECT_TRUE(client.gapless() || c.reason != 8197);
    }
}

}  // namespace

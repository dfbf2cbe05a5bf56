// The client library end to end, through its public interface only, against
// xelmd-front processes on loopback: every key mode, snapshots and
// increments, resume after a restart from the connection file, failover when
// a front is killed, name-server discovery, and each scripted fault giving
// its disconnection reason followed by a reconnection.
#include <TarnXeloMduserApi.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cfloat>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const int TOPIC = 100;
const int NOT_BUILT_YET = -100;
CTarnXeloMduserApi* g_unreleased[256];
int g_unreleased_count = 0;

std::string temp_dir() {
    char path[] = "/tmp/xelmd_e2e_XXXXXX";
    return mkdtemp(path);
}

// One xelmd-front process listening on a free loopback port.
struct FrontProcess {
    pid_t pid = -1;
    std::string dir = temp_dir();
    std::vector<int> ports;

    bool start(std::vector<std::string> args) {
        args.insert(args.end(), {"--listen", "127.0.0.1:0", "--port-file", dir + "/ports", "--rate",
                                 "100", "--snapshot-every", "10"});
        pid = fork();
        if (pid == 0) {
            // The front goes with the test, even when the test dies.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (freopen((dir + "/front.log").c_str(), "w", stdout) == nullptr ||
                dup2(fileno(stdout), fileno(stderr)) < 0)
                _exit(126);
            std::vector<char*> argv = {const_cast<char*>(XELMD_FRONT_BIN)};
            for (std::string& a : args) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(XELMD_FRONT_BIN, argv.data());
            _exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            std::ifstream in(dir + "/ports");
            int port;
            while (in >> port) ports.push_back(port);
            if (!ports.empty()) return true;
            usleep(100000);
        }
        return false;
    }
    std::string address(int index = 0) const {
        return "tcp://127.0.0.1:" + std::to_string(ports.at(static_cast<size_t>(index)));
    }
    std::string log() const {
        std::ifstream in(dir + "/front.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    int stop(int sig = SIGINT) {
        if (pid <= 0) return -1;
        kill(pid, sig);
        int status = -1;
        for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) == 0; ++i) usleep(100000);
        if (waitpid(pid, &status, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        pid = -1;
        return status;
    }
    ~FrontProcess() {
        stop();
        std::string cmd = "rm -rf " + dir;
        if (system(cmd.c_str()) != 0) fprintf(stderr, "cannot remove %s\n", dir.c_str());
    }
};

std::string write_file(const std::string& dir, const char* name, const std::string& text) {
    std::string path = dir + "/" + name;
    std::ofstream(path) << text;
    return path;
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

#define REQUIRE_INIT(client)                                                      \
    do {                                                                          \
        if ((client).init_result == NOT_BUILT_YET)                                \
            GTEST_SKIP() << "the library's Init is not built yet (returns -100)"; \
        ASSERT_EQ((client).init_result, 0);                                       \
    } while (0)

TEST(EndToEnd, EveryKeyModeLogsInAndMergesSnapshotsAndIncrements) {
    struct {
        const char* mode;
        const char* type;
    } cases[] = {{"none", "0"}, {"masked", "1"}, {"masked", "2"}, {"masked", "3"}, {"sm2", "4"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.type);
        FrontProcess front;
        ASSERT_TRUE(front.start({"--key-mode", c.mode, "--cipher-type", c.type}));
        Client client(front.dir, {front.address()}, {}, TE_RESUME_FROM_BEGINNING);
        REQUIRE_INIT(client);
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
    ASSERT_TRUE(front.start({}));
    int last = 0;
    {
        Client first(front.dir, {front.address()}, {}, TE_RESUME_FROM_SAVED);
        REQUIRE_INIT(first);
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
    REQUIRE_INIT(second);
    ASSERT_TRUE(second.spi.wait([](const Recorder::Seen& v) { return !v.sequences.empty(); }));
    EXPECT_EQ(second.spi.get().sequences.front(), saved + 1) << "nothing lost, nothing repeated";
}

TEST(EndToEnd, FailsOverWhenItsFrontIsKilled) {
    FrontProcess a, b;
    ASSERT_TRUE(a.start({}));
    ASSERT_TRUE(b.start({}));
    Client client(a.dir, {a.address(), b.address()}, {}, TE_RESUME_FROM_BEGINNING);
    REQUIRE_INIT(client);
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
    ASSERT_TRUE(front.start({"--name-server", "127.0.0.1:0"}));
    ASSERT_EQ(front.ports.size(), 2u);
    Client client(front.dir, {}, {front.address(1)}, TE_RESUME_FROM_NOW);
    REQUIRE_INIT(client);
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
        std::string scenario =
            write_file(front.dir, "scenario.json", std::string("{\"faults\": [") + c.fault + "]}");
        ASSERT_TRUE(front.start({"--scenario", scenario}));
        Client client(front.dir, {front.address()}, {}, TE_RESUME_FROM_BEGINNING, 5);
        REQUIRE_INIT(client);
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

// The API object's life off the happy path, against the project's front
// in-process: Release and Join from callbacks, twice, without Init, racing
// requests on other threads; logs reopened while lines are written; name
// servers that stall the network thread; descriptors that a child process
// must not inherit.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "api/md_api.h"
#include "tests/api/recording_spi.h"
#include "tests/tools/process.h"
#include "tools/front/front_server.h"

namespace {

using Clock = std::chrono::steady_clock;
// The published codes.
const int RELEASED = -15;
const int ON_NETWORK_THREAD = -16;
const int NOT_INITED = -9;
const int AFTER_INIT = -10;
const int ALREADY_INITED = -5;
const int NOT_CONNECTED = -12;

CTarnXeloReqUserLoginField login_record() {
    CTarnXeloReqUserLoginField r = {};
    strcpy(r.UserID, "trader01");
    strcpy(r.ParticipantID, "p1");
    strcpy(r.Password, "secret");
    strcpy(r.UserProductInfo, "lifetime test");
    return r;
}

// Logs in when connected and asks for topic 3 once logged in; inside the
// first callback of the chosen kind it does the chosen misuse and keeps the
// codes it got. Every callback after a Release that returned counts as late,
// except the one disconnection that Release itself reports.
class MisuseSpi : public ApiTest::RecordingSpi {
  public:
    CTarnXeloMduserApi* api = nullptr;
    std::string kind, misuse;
    std::atomic<bool> acted{false};
    std::atomic<bool> released{false};
    std::atomic<int> late{0};
    std::vector<int> codes;  // written before acted, read after it

    void OnFrontConnected() override {
        seen("connected");
        CTarnXeloReqUserLoginField r = login_record();
        api->ReqUserLogin(&r, 1);
        act("connected");
    }
    void OnFrontDisconnected(int reason) override {
        RecordingSpi::OnFrontDisconnected(reason);
        if (released && reason != 0) ++late;
    }
    void OnRspUserLogin(CTarnXeloRspUserLoginField* r, CTarnXeloRspInfoField* info, int id,
                        bool last) override {
        seen("login");
        RecordingSpi::OnRspUserLogin(r, info, id, last);
        CTarnXeloDisseminationField q = {3, 0};
        api->ReqQryTopic(&q, 2);
        act("login");
    }
    void OnRspQryTopic(CTarnXeloDisseminationField*, CTarnXeloRspInfoField*, int, bool) override {
        seen("qry");
        act("qry");
    }
    void OnPackageStart(int, int) override {
        seen("start");
        act("start");
    }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField*) override {
        seen("depth");
        act("depth");
    }
    void OnPackageEnd(int, int) override {
        seen("end");
        act("end");
    }

  private:
    void seen(const char* what) {
        if (released) ++late;
        add(what);
    }
    void act(const char* here) {
        if (kind != here || acted) return;
        if (misuse == "join") {
            codes.push_back(api->Join());
        } else {
            codes.push_back(api->Release());
            released = true;
            if (misuse == "release twice") codes.push_back(api->Release());
            if (misuse == "release, request") {
                CTarnXeloDisseminationField q = {3, 0};
                CTarnXeloReqUserLoginField r = login_record();
                codes.push_back(api->ReqQryTopic(&q, 3));
                codes.push_back(api->ReqUserLogin(&r, 4));
            }
        }
        acted = true;
    }
};

bool wait_until(const std::function<bool()>& done, int timeout_ms = 10000) {
    for (auto end = Clock::now() + std::chrono::milliseconds(timeout_ms); Clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

class LifetimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Front::FrontServer::Options o;
        o.listen = {"127.0.0.1:0"};
        o.topics = {3};
        o.rate = 500;
        o.trading_day = "20250912";
        std::string error;
        ASSERT_TRUE(server_.start(o, error)) << error;
        address_ = "tcp://127.0.0.1:" + std::to_string(server_.get_ports()[0]);
    }
    void TearDown() override {
        server_.stop();
        ToolTest::remove_dir(dir_);
    }
    CTarnXeloMduserApi* start(ApiTest::RecordingSpi* spi, MisuseSpi* misuse = nullptr) {
        CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
        api->RegisterSpi(spi);
        if (misuse) misuse->api = api;  // before its first callback
        EXPECT_EQ(api->RegisterFront(address_.c_str()), 0);
        EXPECT_EQ(api->SubscribeMarketDataTopic(3, TE_RESUME_FROM_BEGINNING), 0);
        EXPECT_EQ(api->Init(), 0);
        return api;
    }
    void start(MisuseSpi* spi) { start(spi, spi); }

    Front::FrontServer server_;
    std::string address_;
    std::string dir_ = ToolTest::temp_dir();
};

// Each callback kind with each misuse: what the calls return, that Join
// from another thread then ends the object, and that nothing is called back
// after a Release that returned but the disconnection Release reports.
TEST_F(LifetimeTest, MisuseInsideEachCallbackKind) {
    const std::vector<std::pair<std::string, std::vector<int>>> misuses = {
        {"release", {0}},
        {"release twice", {0, RELEASED}},
        {"release, request", {0, RELEASED, RELEASED}},
        {"join", {ON_NETWORK_THREAD}},
    };
    for (const char* kind : {"connected", "login", "qry", "start", "depth", "end"}) {
        for (const auto& m : misuses) {
            SCOPED_TRACE(std::string(kind) + " / " + m.first);
            MisuseSpi spi;
            spi.kind = kind;
            spi.misuse = m.first;
            start(&spi);
            ASSERT_TRUE(wait_until([&] { return spi.acted.load(); }));
            EXPECT_EQ(spi.codes, m.second);
            if (m.first == "join") {
                EXPECT_EQ(spi.api->Release(), 0);
            }
            EXPECT_EQ(spi.api->Join(), 0);
            EXPECT_EQ(spi.late, 0);
            // Release's own disconnection, if any, came last.
            std::vector<std::string> lines = spi.lines();
            EXPECT_LE(spi.count("disconnected 0"), 1);
            if (spi.count("disconnected 0")) {
                EXPECT_EQ(lines.back(), "disconnected 0");
            }
        }
    }
}

TEST_F(LifetimeTest, WrongOrderFromTheApplicationThread) {
    // Never started: Release refuses, Join ends the object at once.
    CTarnXeloMduserApi* idle = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
    EXPECT_EQ(idle->Release(), NOT_INITED);
    EXPECT_EQ(idle->Join(), 0);
    EXPECT_EQ(CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str())->Join(), 0);

    ApiTest::RecordingSpi spi;
    CTarnXeloMduserApi* api = start(&spi);
    ASSERT_TRUE(spi.wait_for("connected"));
    EXPECT_EQ(api->Release(), 0);
    EXPECT_EQ(api->Release(), RELEASED);
    CTarnXeloReqUserLoginField r = login_record();
    CTarnXeloDisseminationField q = {3, 0};
    EXPECT_EQ(api->ReqUserLogin(&r, 1), RELEASED);
    EXPECT_EQ(api->ReqQryTopic(&q, 1), RELEASED);
    EXPECT_EQ(api->ReqSubscribeTopic(&q, 1), RELEASED);
    EXPECT_EQ(api->RegisterFront(address_.c_str()), AFTER_INIT);
    EXPECT_EQ(api->Init(), ALREADY_INITED);
    EXPECT_EQ(api->Join(), 0);
}

// Requests from four threads while a fifth releases: each returns one of
// its defined codes, and every call after Release returned is refused.
TEST_F(LifetimeTest, ReleaseRacesRequestsOnOtherThreads) {
    for (int round = 0; round < 5; ++round) {
        MisuseSpi spi;  // logs in; no misuse
        start(&spi);
        ASSERT_TRUE(spi.wait_for("depth", 1, 10000));
        std::atomic<bool> released{false}, stop{false};
        std::atomic<int> undefined{0}, after{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                CTarnXeloDisseminationField q = {3, 0};
                CTarnXeloReqUserLoginField r = login_record();
                while (!stop) {
                    bool was_released = released;
                    int rc = t == 0   ? spi.api->ReqUserLogin(&r, 7)
                             : t == 1 ? spi.api->ReqSubscribeTopic(&q, 7)
                                      : spi.api->ReqQryTopic(&q, 7);
                    if (was_released && rc != RELEASED) ++after;
                    if (rc != 0 && rc != -2 && rc != -3 && rc != -5 && rc != -12 && rc != RELEASED)
                        ++undefined;
                }
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(20 * round));
        EXPECT_EQ(spi.api->Release(), 0);
        released = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop = true;
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(spi.api->Join(), 0);
        EXPECT_EQ(undefined, 0);
        EXPECT_EQ(after, 0);
    }
}

// The response log reopened, alternately on two files, while the network
// thread writes a line per update: every line of both is whole.
TEST_F(LifetimeTest, LogsReopenedWhileLinesAreWritten) {
    MisuseSpi spi;
    start(&spi);
    const std::string a = dir_ + "/a.log", b = dir_ + "/b.log";
    ASSERT_TRUE(spi.wait_for("depth", 1, 10000));
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(spi.api->OpenResponseLog((i % 2 ? a : b).c_str()), 0);
        ASSERT_EQ(spi.api->OpenRequestLog((i % 2 ? b : a).c_str()), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(spi.api->Release(), 0);
    EXPECT_EQ(spi.api->Join(), 0);
    // A whole line: 17 digits of time, a comma, a label; and no other line
    // begins inside it.
    auto whole = [](const std::string& l) {
        return l.size() > 20 && l.find_first_not_of("0123456789") == 17 && l[17] == ',' &&
               (l.compare(18, 2, "On") == 0 || l.compare(18, 3, "Req") == 0) &&
               l.find(",On", 18) == std::string::npos && l.find(",Req", 18) == std::string::npos;
    };
    int lines = 0;
    for (const std::string& path : {a, b}) {
        std::ifstream in(path);
        for (std::string l; std::getline(in, l); ++lines) EXPECT_TRUE(whole(l)) << l;
    }
    EXPECT_GT(lines, 0);
}

// A name server on loopback that accepts and then, per mode, trickles one
// byte every 0.4 s, or says nothing.
class StallingNameServer {
  public:
    explicit StallingNameServer(bool trickle) {
        listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), len);
        listen(listen_fd_, 8);
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, trickle] {
            int fd = accept(listen_fd_, nullptr, nullptr);
            accepted_ = true;
            while (!stop_ && fd >= 0) {
                if (trickle) send(fd, "1", 1, MSG_NOSIGNAL);
                std::this_thread::sleep_for(std::chrono::milliseconds(400));
            }
            if (fd >= 0) close(fd);
        });
    }
    ~StallingNameServer() {
        stop_ = true;
        shutdown(listen_fd_, SHUT_RDWR);
        thread_.join();
        close(listen_fd_);
    }
    int port() const { return port_; }
    bool accepted() const { return accepted_; }

  private:
    int listen_fd_;
    int port_ = 0;
    std::atomic<bool> stop_{false}, accepted_{false};
    std::thread thread_;
};

// While the network thread asks a stalling name server, application calls
// that wait on it come back within the query's limit and a margin.
TEST_F(LifetimeTest, StallingNameServersHoldCallsAtMostTheQueryLimit) {
    // The query's 2 s limit and as much again for a loaded machine.
    const auto limit = std::chrono::milliseconds(4000);
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode == 0 ? "trickle" : mode == 1 ? "silent" : "closed port");
        StallingNameServer ns(mode == 0);
        ApiTest::RecordingSpi spi;
        CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
        api->RegisterSpi(&spi);
        int port = mode == 2 ? 1 : ns.port();
        ASSERT_EQ(api->RegisterNameServer(("tcp://127.0.0.1:" + std::to_string(port)).c_str()), 0);
        ASSERT_EQ(api->Init(), 0);
        if (mode != 2) {
            ASSERT_TRUE(wait_until([&] { return ns.accepted(); }));
        }
        CTarnXeloReqUserLoginField r = login_record();
        auto t0 = Clock::now();
        EXPECT_EQ(api->ReqUserLogin(&r, 1), NOT_CONNECTED);
        EXPECT_LT(Clock::now() - t0, limit);
        t0 = Clock::now();
        EXPECT_EQ(api->Release(), 0);
        EXPECT_LT(Clock::now() - t0, limit);
        EXPECT_EQ(api->Join(), 0);
    }
}

// Nothing the API opens is inherited by a child process.
TEST_F(LifetimeTest, DescriptorsAreCloseOnExec) {
    // Descriptors the process had before (the test runner's own) are not ours.
    std::vector<int> before;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        before.push_back(std::stoi(e.path().filename().string()));
    ApiTest::RecordingSpi spi;
    CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
    api->RegisterSpi(&spi);
    ASSERT_EQ(api->OpenRequestLog((dir_ + "/req.log").c_str()), 0);
    ASSERT_EQ(api->RegisterFront(address_.c_str()), 0);
    ASSERT_EQ(api->Init(), 0);
    ASSERT_EQ(api->OpenResponseLog((dir_ + "/rsp.log").c_str()), 0);
    ASSERT_TRUE(spi.wait_for("connected"));
    int checked = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        int fd = std::stoi(e.path().filename().string());
        if (std::find(before.begin(), before.end(), fd) != before.end()) continue;
        int flags = fcntl(fd, F_GETFD);
        if (flags < 0) continue;  // the directory listing's own descriptor
        std::error_code ec;
        EXPECT_TRUE(flags & FD_CLOEXEC) << std::filesystem::read_symlink(e.path(), ec);
        ++checked;
    }
    EXPECT_GE(checked, 5);  // logs, md.con, the connection, epoll and eventfd
    EXPECT_EQ(api->Release(), 0);
    EXPECT_EQ(api->Join(), 0);
}

}  // namespace

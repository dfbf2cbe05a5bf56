// The real API object against a front over loopback: connection, key
// exchange, login, topics, disconnection and shutdown, as the application
// sees them, also on a network thread its owner supplies.
#include <dirent.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>

#include "api/md_api.h"
#include "base/measure.h"
#include "parallel/fd_reactor.h"
#include "tests/api/key_reference.h"
#include "tests/api/raw_front.h"

namespace {

using ApiTest::login_record;
using ApiTest::read_file;
using ApiTest::WireField;
using ApiTest::WirePacket;
using Clock = std::chrono::steady_clock;
using MdApiLoopbackTest = ApiTest::LoopbackTest;
using OutsideReactor = ApiTest::LoopbackTest;

// The key exchange opens the connection; a lone zero, or no session text at
// all, leaves the login in clear.
TEST_F(MdApiLoopbackTest, KeyExchangeFirstAndRepliesWithoutAKeyLeaveTheLoginInClear) {
    for (const char* text : {"0", static_cast<const char*>(nullptr)}) {
        start();
        ASSERT_TRUE(spi_.wait_for("connected", text ? 1 : 2));
        EXPECT_EQ(kx_.header.tid, 0x6091u);
        EXPECT_EQ(kx_.header.request_id, 0u);
        ASSERT_EQ(kx_.fields.size(), 2u);
        EXPECT_EQ(kx_.fields[0].id, 0x800A);
        EXPECT_EQ(kx_.fields[0].data, std::string("\x01\x7E\xB7\xEB", 4));  // 25081835
        reply(0, text);
        WirePacket login;
        ASSERT_TRUE(login_and_read(login));
        EXPECT_EQ(login.header.tid, 0x1001u);
        EXPECT_EQ(front_.bad_frames_, 0);
        stop();
        front_.drop();
    }
}

// A login response without its record closes the connection; the client
// comes back. (An unusable key reply, 8195, is the end-to-end test's.)
TEST_F(MdApiLoopbackTest, LoginResponseWithoutItsRecordClosesThenReconnects) {
    start();
    ASSERT_TRUE(spi_.wait_for("connected"));
    reply(0);
    WirePacket login;
    ASSERT_TRUE(login_and_read(login));
    front_.send_packet(0x1002, 42, wire::rsp_info(0, ""));
    EXPECT_TRUE(spi_.wait_for("disconnected 8200"));
    EXPECT_TRUE(front_.wait_closed(3000));
    EXPECT_EQ(spi_.count("login", true), 0);
    accept_and_read_key_exchange();
    EXPECT_TRUE(spi_.wait_for("connected", 2));
}

TEST_F(MdApiLoopbackTest, ErrorReplyReportsAndHoldsTheLogin) {
    start();
    ASSERT_TRUE(spi_.wait_for("connected"));
    reply(7);
    EXPECT_TRUE(spi_.wait_for("error 7:refused 0 L"));
    CTarnXeloReqUserLoginField r = login_record();
    EXPECT_EQ(api_->ReqUserLogin(&r, 1), 0);
    WirePacket p;
    EXPECT_FALSE(front_.read_packet(p, 1500));
}

TEST_F(MdApiLoopbackTest, LoginRefusalsBeforeTheQueue) {
    api_ = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
    CTarnXeloReqUserLoginField r = login_record();
    EXPECT_EQ(api_->ReqUserLogin(&r, 1), -9);
    ASSERT_EQ(api_->RegisterFront(front_.address().c_str()), 0);
    api_->RegisterSpi(&spi_);
    ASSERT_EQ(api_->Init(), 0);
    EXPECT_EQ(api_->Init(), -5);
    accept_and_read_key_exchange();
    ASSERT_TRUE(spi_.wait_for("connected"));
    strcpy(r.UserProductInfo, "   ");
    EXPECT_EQ(api_->ReqUserLogin(&r, 1), -6);
    memset(r.UserProductInfo, 'x', sizeof r.UserProductInfo);  // byte 40 is cut
    reply(0);
    WirePacket p;
    ASSERT_EQ(api_->ReqUserLogin(&r, 1), 0);
    ASSERT_TRUE(front_.read_packet(p, 3000));
    EXPECT_EQ(p.fields[0].data.substr(77, 41), std::string(40, 'x') + '\0');
    front_.send_packet(0x1002, 1,
                       wire::rsp_info(0, "") + wire::field(0x000B, std::string(141, '\0')));
    ASSERT_TRUE(spi_.wait_for("login 0: 1 L  "));
    EXPECT_EQ(api_->ReqUserLogin(&r, 2), -5);
    front_.drop();
    ASSERT_TRUE(spi_.wait_for("disconnected 4097"));
    EXPECT_EQ(api_->ReqUserLogin(&r, 3), -12);
}

// The topics a login asks for, as "topic@position".
std::vector<std::string> asked(const WirePacket& login) {
    std::vector<std::string> out;
    for (const WireField& f : login.fields)
        if (f.id == 0x0001)
            out.push_back(std::to_string(static_cast<short>(wire::load_be32(f.data.data()) >> 16)) +
                          "@" +
                          std::to_string(static_cast<int>(wire::load_be32(f.data.data() + 2))));
    return out;
}

TEST_F(MdApiLoopbackTest, LoginCarriesFileStateTagTopicsAndTerminalInfo) {
    std::ofstream(dir_ + "/md.con") << "20250912,  7\n    3,      1200\n    5,        40\n";
    start({{3, TE_RESUME_FROM_SAVED}, {5, TE_RESUME_FROM_BEGINNING}, {7, TE_RESUME_FROM_NOW}},
          true);
    EXPECT_STREQ(api_->GetTradingDay(), "20250912");
    ASSERT_TRUE(spi_.wait_for("connected"));
    reply(0);
    unsigned int before = static_cast<unsigned int>(time(nullptr));
    WirePacket p;
    ASSERT_TRUE(login_and_read(p));
    unsigned int after = static_cast<unsigned int>(time(nullptr));

    ASSERT_EQ(p.fields.size(), 5u);
    const std::string& r = p.fields[0].data;
    ASSERT_EQ(p.fields[0].id, 0x000A);
    ASSERT_EQ(r.size(), 204u);
    // Day, user, participant, password, product, the library's version; the
    // data center from the file.
    EXPECT_EQ(r.substr(0, 159), wire::text("20250912", 9) + wire::text("trader01", 16) +
                                    wire::text("p1", 11) + wire::text("secret", 41) +
                                    wire::text("prod 1", 41) +
                                    wire::text("TARN XelMdApi V2.00 202508.1835", 41));
    EXPECT_EQ(r.substr(200, 4), wire::be32(7));
    std::string protocol = r.substr(159, 41);
    EXPECT_EQ(protocol.substr(0, 7), std::string("XELO 4\0", 7));
    const unsigned char* tag = reinterpret_cast<const unsigned char*>(protocol.data() + 7);
    unsigned int hidden = wire::load_be32(protocol.data() + 14);
    unsigned int second = hidden ^ (unsigned(tag[5]) << 24 | unsigned(tag[6]) << 16 |
                                    unsigned(tag[32]) << 8 | tag[33]);
    EXPECT_GE(second, before);
    EXPECT_LE(second, after);
    std::string digest = ApiTest::sm3(protocol.substr(7, 7) + std::to_string(second) + " trader01" +
                                      protocol.substr(34, 7));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(protocol[18 + i], digest[2 * i]) << i;

    // Topics from the saved count, from the beginning (its saved 40 is not
    // used), from now.
    EXPECT_EQ(asked(p), (std::vector<std::string>{"3@1200", "5@0", "7@-1"}));

    // The terminal information opens with the private key to
    // InitEncryptInfo and the front mode.
    ASSERT_EQ(p.fields[4].id, 0x8008);
    unsigned char block[300];
    std::string b64 = p.fields[4].data.substr(0, p.fields[4].data.find('\0'));
    ASSERT_EQ(EVP_DecodeBlock(block, reinterpret_cast<const unsigned char*>(b64.data()),
                              static_cast<int>(b64.size())),
              135);
    EVP_PKEY* key = ApiTest::load_private_key();
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(ApiTest::oaep_decrypt(key, block + 5, 128), "123450");
    EVP_PKEY_free(key);

    // The request log never shows the password.
    std::string log = read_file(dir_ + "/req.log");
    EXPECT_NE(log.find(",ReqUserLogin,"), std::string::npos) << log;
    EXPECT_NE(log.find("Password=\"\""), std::string::npos) << log;
    EXPECT_EQ(log.find("secret"), std::string::npos) << log;

    // The response's trading day and data center reach the file at Release.
    front_.send_packet(0x1002, 42,
                       wire::rsp_info(0, "") + wire::login_rsp("20250915", "trader01", 9));
    ASSERT_TRUE(spi_.wait_for("login 0: 42 L trader01 20250915"));
    EXPECT_STREQ(api_->GetTradingDay(), "20250915");
    stop();
    EXPECT_EQ(spi_.lines(), (std::vector<std::string>{
                                "connected", "login 0: 42 L trader01 20250915", "disconnected 0"}));
    EXPECT_EQ(read_file(dir_ + "/md.con"),
              "20250915,  9\n    3,      1200\n    5,         0\n    7,         0\n");
}

TEST_F(MdApiLoopbackTest, SecondLoginWithinASecondWaitsItOut) {
    start();
    ASSERT_TRUE(spi_.wait_for("connected"));
    reply(0);
    CTarnXeloReqUserLoginField r = login_record();
    ASSERT_EQ(api_->ReqUserLogin(&r, 1), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto t0 = Clock::now();
    ASSERT_EQ(api_->ReqUserLogin(&r, 2), 0);
    long waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_GE(waited, 900);
    WirePacket a, b;
    ASSERT_TRUE(front_.read_packet(a, 3000));
    ASSERT_TRUE(front_.read_packet(b, 3000));
    EXPECT_EQ(a.header.request_id, 1u);
    EXPECT_EQ(b.header.request_id, 2u);
}

// A snapshot with only its instrument and trading day set.
std::string depth(const char* instrument) {
    CTarnXeloDepthMarketDataField r = {};
    strcpy(r.TradingDay, "20250912");
    strcpy(r.InstrumentID, instrument);
    return wire::depth(r);
}

// Topics announced at the login: one in the table's last free entry (200),
// one beyond the table (100); both stream. A lost connection is written to
// the file and retried; the next login asks only the subscribed topics,
// topic 3 from the position it reached.
TEST_F(MdApiLoopbackTest, AnnouncedTopicsResumeWhereTheyStoodAfterAReconnection) {
    std::vector<std::pair<int, TE_RESUME_TYPE>> topics;
    std::vector<std::string> want;
    for (int t = 1; t < 64; ++t) {
        topics.push_back({t, TE_RESUME_FROM_BEGINNING});
        want.push_back(std::to_string(t) + "@0");
    }
    start(topics, true);
    WirePacket login;
    connect_and_login(login, 1);
    EXPECT_EQ(asked(login), want);
    front_.send_packet(
        0x5901, 0,
        wire::dissemination(3, 0) + wire::dissemination(200, 500) + wire::dissemination(100, 0));
    const int N = 1200;
    for (int i = 1; i <= N; ++i) front_.send_packet(0x5803, 0, depth("cu2510"), 3, i);
    front_.send_packet(0x5803, 0, depth("announced"), 200, 501);
    front_.send_packet(0x5803, 0, depth("beyond"), 100, 1);
    ASSERT_TRUE(spi_.wait_for("depth cu2510", N, 20000));
    ASSERT_TRUE(spi_.wait_for("depth announced"));
    ASSERT_TRUE(spi_.wait_for("depth beyond"));
    EXPECT_EQ(spi_.count("start 3 ", true), N);
    // The connection stays: a request still goes out and is answered.
    CTarnXeloDisseminationField q = {100, 0};
    ASSERT_EQ(api_->ReqQryTopic(&q, 77), 0);
    WirePacket p;
    ASSERT_TRUE(front_.read_packet(p, 5000));
    EXPECT_EQ(p.header.tid, 0x4201u);
    EXPECT_EQ(p.header.request_id, 77u);
    front_.send_packet(
        0x4202, 77,
        wire::rsp_info(0, "") + wire::dissemination(3, 10) + wire::dissemination(100, 2));
    EXPECT_TRUE(spi_.wait_for("qry 100@2 none 77 L"));
    EXPECT_EQ(spi_.count("qry 3@10 0: 77"), 1);
    EXPECT_NE(
        read_file(dir_ + "/req.log").find(",ReqQryTopic,SequenceSeries=\"100\" SequenceNo=\"0\"\n"),
        std::string::npos);
    EXPECT_NE(read_file(dir_ + "/rsp.log")
                  .find(",OnRspQryTopic,0,,SequenceSeries=\"3\" SequenceNo=\"10\"\n"),
              std::string::npos);

    const std::string first_text = kx_text_;
    front_.drop();
    ASSERT_TRUE(spi_.wait_for("disconnected 4097"));
    // The file holds the state at the moment of loss before the report.
    const std::string con = read_file(dir_ + "/md.con");
    EXPECT_EQ(con.substr(0, 13), "       0,  0\n");
    EXPECT_NE(con.find("\n    3,      1200\n"), std::string::npos) << con;
    accept_and_read_key_exchange();   // the same front again after 1.5 s
    EXPECT_NE(kx_text_, first_text);  // a fresh key pair per connection
    connect_and_login(login, 2);
    want[2] = "3@1200";
    EXPECT_EQ(asked(login), want);
    EXPECT_EQ(spi_.count("disconnected", true), 1);
}

// Callbacks that take their time while another thread releases the API.
class SlowSpi : public ApiTest::RecordingSpi {
  public:
    void OnFrontConnected() override {
        add("connected");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        add("connected done");
    }
};

TEST_F(MdApiLoopbackTest, ReleaseAndJoinFromAnotherThreadWhileACallbackRuns) {
    SlowSpi slow;
    create(&slow);
    ASSERT_EQ(api_->Init(), 0);
    ASSERT_TRUE(front_.accept_client(5000));
    ASSERT_TRUE(slow.wait_for("connected"));
    CTarnXeloMduserApi* api = api_;
    api_ = nullptr;
    std::thread closer([api] {
        api->Release();
        api->Join();
    });
    closer.join();
    EXPECT_EQ(slow.lines(),
              (std::vector<std::string>{"connected", "connected done", "disconnected 0"}));
    EXPECT_TRUE(front_.wait_closed(3000));
}

int count_entries(const char* dir) {
    int n = 0;
    DIR* d = opendir(dir);
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

// One object's whole life: Init through the reactor (its own when null),
// connected, released and joined.
void cycle(ApiTest::RawFront& front, const std::string& dir, Parallel::FdReactor* reactor) {
    ApiTest::RecordingSpi spi;
    auto* api = new Api::MdApi(dir.c_str(), reactor);
    api->RegisterSpi(&spi);
    api->RegisterFront(front.address().c_str());
    ASSERT_EQ(api->Init(), 0);
    ASSERT_TRUE(front.accept_client(5000));
    ASSERT_TRUE(spi.wait_for("connected"));
    ASSERT_EQ(api->Release(), 0);
    EXPECT_EQ(spi.lines(), (std::vector<std::string>{"connected", "disconnected 0"}));
    api->Join();
    front.drop();
}

TEST_F(MdApiLoopbackTest, TwentyCyclesLeaveNoThreadOrDescriptor) {
    // A first cycle lets the process start what it starts once (a
    // sanitizer's background thread), so that only leaks are counted.
    cycle(front_, dir_, nullptr);
    const int threads = count_entries("/proc/self/task");
    const int fds = count_entries("/proc/self/fd");
    for (int i = 0; i < 20 && !HasFatalFailure(); ++i) cycle(front_, dir_, nullptr);
    EXPECT_EQ(count_entries("/proc/self/task"), threads);
    EXPECT_EQ(count_entries("/proc/self/fd"), fds);
}

// On a network thread its owner supplies, Init and Release use that reactor
// without starting or stopping it, and leave it as they found it, so that
// it can serve further objects.
TEST_F(OutsideReactor, ReleaseLeavesTheRunningReactorCleanForTheNextObject) {
    auto* reactor = new Parallel::FdReactor(nullptr);
    ASSERT_TRUE(reactor->create(true, nullptr));
    // The loop holds its notify descriptor once it has begun.
    auto one_fd = [&] {
        for (int i = 0; i < 2500 && reactor->get_fd_count() != 1; ++i) usleep(2000);
        return reactor->get_fd_count() == 1;
    };
    ASSERT_TRUE(one_fd());
    const int handlers = reactor->get_handler_count();
    for (int round = 0; round < 3; ++round) {
        cycle(front_, dir_, reactor);
        // The reactor was neither stopped nor left holding the object's parts.
        EXPECT_TRUE(reactor->is_running());
        EXPECT_TRUE(one_fd());
        EXPECT_EQ(reactor->get_handler_count(), handlers);
    }
    reactor->stop();
    reactor->join();
    delete reactor;
}

// A reactor its owner drives by hand on a thread of its own, never started
// with create(): its loop makes synchronous calls on itself (a session's
// timers, Release's teardown), which must run at once, not wait for it.
class HandDriven : public Parallel::FdReactor {
  public:
    HandDriven() : Parallel::FdReactor(nullptr) {}
    void drive(const std::atomic<bool>& stop) {
        begin_loop();
        while (!stop.load()) run_pass(Base::Measure::get_clock());
        end_loop();
    }
};

TEST_F(OutsideReactor, ReactorDrivenByHandServesObjectsInTurn) {
    auto* reactor = new HandDriven();
    std::atomic<bool> stop{false};
    std::thread loop([&] { reactor->drive(stop); });
    for (int round = 0; round < 2; ++round) cycle(front_, dir_, reactor);
    stop.store(true);
    loop.join();
    // Its thread claimed the loop only while it drove it.
    EXPECT_EQ(reactor->get_id(), 0);
    EXPECT_FALSE(reactor->is_running());
    delete reactor;
}

}  // namespace

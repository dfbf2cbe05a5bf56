// The real API object over loopback: against a scripted front for the key
// exchange, the login's bytes and the replies a good front never gives;
// against the project's front, in-process, for shutdown and leaks, also on a
// network thread its owner supplies. (Streaming, resuming after a lost
// connection and failover are the end-to-end tests'.) And the key material
// against libcrypto.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "api/api_info.h"
#include "api/key_exchange.h"
#include "api/md_api.h"
#include "base/measure.h"
#include "cipher/sm2.h"
#include "parallel/fd_reactor.h"
#include "tests/api/recording_spi.h"
#include "tests/api/wire.h"
#include "tests/test_table.h"
#include "tests/tools/process.h"
#include "tools/front/front_server.h"

namespace {

using ApiTest::RecordingSpi;
using ToolTest::read_file;
using Clock = std::chrono::steady_clock;

// Reference pieces written independently of the library for the key
// exchange and terminal tag: a bitwise CRC-32C update (no inversions, as the
// crc32 instruction) and libcrypto's SM3; and the front's sealing of a key.
unsigned int crc32c(const unsigned char* p, int n, unsigned int seed) {
    unsigned int crc = seed;
    for (int i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0x82F63B78u & (0u - (crc & 1u)));
    }
    return crc;
}

std::string sm3(const std::string& msg) {
    unsigned char d[32];
    unsigned int len = 0;
    EVP_Digest(msg.data(), msg.size(), d, &len, EVP_get_digestbyname("SM3"), nullptr);
    return std::string(reinterpret_cast<char*>(d), 32);
}

// The mask of the short key form, from the first 132 bytes of the text.
unsigned long reference_mask(const char* text) {
    std::string d = sm3(std::string(text, 132));
    const unsigned char* u = reinterpret_cast<const unsigned char*>(d.data());
    auto le32 = [](const unsigned char* p) {
        return unsigned(p[0]) | unsigned(p[1]) << 8 | unsigned(p[2]) << 16 | unsigned(p[3]) << 24;
    };
    unsigned long h1 = crc32c(u, 16, le32(u + 16));
    unsigned long h2 = crc32c(u + 16, 16, le32(u));
    return h1 << 32 | h2;
}

// plain sealed the way a front does it: SM2 under the public key of a
// key-exchange text ("40" X "40" Y), in hex.
std::string seal_hex(const char* text, const unsigned char* plain, int n) {
    Cipher::Sm2 front(true);
    if (!front.set_public_key(std::string(text + 2, 64).c_str(),
                              std::string(text + 68, 64).c_str()))
        return "<no key>";
    unsigned char out[256];
    int out_len = 0;
    front.encode(nullptr, out_len, plain, n);
    front.encode(out, out_len, plain, n);
    std::string hex(2 * static_cast<size_t>(out_len) + 1, '\0');
    OPENSSL_buf2hexstr_ex(&hex[0], hex.size(), nullptr, out, static_cast<size_t>(out_len), '\0');
    hex.pop_back();
    return hex;
}

// The simulator's test key, whose public half the library embeds.
EVP_PKEY* load_private_key() {
    FILE* f = fopen(XELMD_SOURCE_DIR "/tools/keys/terminal_rsa_private.pem", "r");
    if (!f) return nullptr;
    EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    fclose(f);
    return key;
}

std::string oaep_decrypt(EVP_PKEY* key, const unsigned char* in, size_t n) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    std::vector<unsigned char> out(512);
    size_t out_len = out.size();
    bool ok = EVP_PKEY_decrypt_init(ctx) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) == 1 &&
              EVP_PKEY_decrypt(ctx, out.data(), &out_len, in, n) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok ? std::string(reinterpret_cast<char*>(out.data()), out_len) : "<failed>";
}

// A data packet as sent: tid, request id and its fields by id.
struct WirePacket {
    unsigned tid = 0, request_id = 0;
    std::vector<std::pair<unsigned, std::string>> fields;
};

// A front scripted by the test over plain sockets, for the replies a
// well-behaved front never gives and for the exact bytes the client sends:
// it frames by hand (units from wire.h) and never enciphers, so a mistake
// made the same way on both sides of the library's transport cannot hide.
// One thread (the test's).
class ScriptedFront {
  public:
    ScriptedFront() {
        listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), len);
        listen(listen_fd_, 8);
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
        address_ = "tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
        set_timeout(listen_fd_, 5000);  // accept() waits at most that long
    }
    ~ScriptedFront() {
        drop();
        ::close(listen_fd_);
    }
    const std::string& address() const { return address_; }

    bool accept_client() {
        fd_ = ::accept(listen_fd_, nullptr, nullptr);
        return fd_ >= 0;
    }
    void drop() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // The next data packet within timeout_ms (control frames skipped); false
    // also when the client closed the connection. A unit is the transport
    // header (type, ext, length of what follows it; a control frame has only
    // its ext bytes), ext bytes, compression header, packet header, fields.
    bool read_packet(WirePacket& out, int timeout_ms = 3000) {
        set_timeout(fd_, timeout_ms);
        for (std::string head, body;;) {
            if (!take(head, 4)) return false;
            size_t ext = static_cast<unsigned char>(head[1]);
            size_t content = wire::load_be32(head.data()) & 0xFFFF;
            if (!take(body, content == 0 ? ext : content)) return false;
            if (content == 0) continue;
            body.erase(0, ext);
            EXPECT_GE(body.size(), 22u);
            out.tid = wire::load_be32(&body[6]);
            out.request_id = wire::load_be32(&body[18]);
            out.fields.clear();
            for (size_t at = 22; at + 4 <= body.size();) {
                unsigned field = wire::load_be32(&body[at]);
                out.fields.push_back({field >> 16, body.substr(at + 4, field & 0xFFFF)});
                at += 4 + (field & 0xFFFF);
            }
            return true;
        }
    }
    // True when the client closed the connection within 3 s.
    bool wait_closed() {
        char chunk[65536];
        ssize_t n;
        set_timeout(fd_, 3000);
        while ((n = ::recv(fd_, chunk, sizeof chunk, 0)) > 0) continue;
        return n == 0;
    }
    // A packet of the given field area, on series 1 unless told otherwise.
    void send_packet(unsigned tid, unsigned request_id, const std::string& fields,
                     unsigned series = 1, unsigned sequence = 0) {
        int count = 0;
        for (size_t at = 0; at + 4 <= fields.size(); ++count)
            at += 4 + (wire::load_be32(&fields[at]) & 0xFFFF);
        std::string u = wire::unit({tid, series, sequence, 'L', request_id}, fields, 0, count);
        ::send(fd_, u.data(), u.size(), MSG_NOSIGNAL);
    }

  private:
    static void set_timeout(int fd, int ms) {
        timeval t = {ms / 1000, ms % 1000 * 1000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    }
    // Exactly n bytes, or false.
    bool take(std::string& out, size_t n) {
        out.assign(n, '\0');
        return n == 0 || ::recv(fd_, &out[0], n, MSG_WAITALL) == static_cast<ssize_t>(n);
    }

    int listen_fd_ = -1;
    int fd_ = -1;
    std::string address_;
};

inline CTarnXeloReqUserLoginField login_record() {
    CTarnXeloReqUserLoginField r = {};
    strcpy(r.TradingDay, "19990101");
    strcpy(r.UserID, "trader01");
    strcpy(r.ParticipantID, "p1");
    strcpy(r.Password, "secret");
    strcpy(r.UserProductInfo, "prod 1");
    strcpy(r.InterfaceProductInfo, "anything");
    strcpy(r.ProtocolInfo, "whatever");
    r.DataCenterID = 55;
    return r;
}

// A fresh flow directory, removed with what the tests leave in it.
class FlowDirTest : public ::testing::Test {
  protected:
    void TearDown() override { ToolTest::remove_dir(dir_); }
    std::string dir_ = ToolTest::temp_dir();
};

// The real API object against a ScriptedFront.
class MdApiLoopbackTest : public FlowDirTest {
  protected:
    void TearDown() override {
        if (api_) stop();
        FlowDirTest::TearDown();
    }
    // Create with the topics and logs, Init, accept and read the key exchange.
    void start(const std::vector<std::pair<int, TE_RESUME_TYPE>>& topics = {}, bool logs = false) {
        api_ = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
        api_->RegisterSpi(&spi_);
        ASSERT_EQ(api_->RegisterFront(front_.address().c_str()), 0);
        for (auto& t : topics) ASSERT_EQ(api_->SubscribeMarketDataTopic(t.first, t.second), 0);
        if (logs) {
            ASSERT_EQ(api_->OpenRequestLog((dir_ + "/req.log").c_str()), 0);
            ASSERT_EQ(api_->OpenResponseLog((dir_ + "/rsp.log").c_str()), 0);
        }
        ASSERT_EQ(api_->Init(), 0);
        accept_and_read_key_exchange();
    }
    void accept_and_read_key_exchange() {
        ASSERT_TRUE(front_.accept_client());
        ASSERT_TRUE(front_.read_packet(kx_));
        ASSERT_EQ(kx_.fields.size(), 2u);
        ASSERT_EQ(kx_.fields[1].first, 0x8017u);  // the session text
        ASSERT_EQ(kx_.fields[1].second.size(), 301u);
    }
    void stop() {
        api_->Release();
        api_->Join();
        api_ = nullptr;
    }
    // The key-exchange reply; a null session text leaves the field out.
    void reply(int error, const char* session_text = "0") {
        std::string f =
            wire::rsp_info(error, error ? "refused" : "") + wire::field(0x800A, wire::be32(12345));
        if (session_text) f += wire::field(0x8017, wire::text(session_text, 301));
        front_.send_packet(0x6092, 0, f);
    }
    bool login_and_read(WirePacket& p, int request_id = 42) {
        CTarnXeloReqUserLoginField r = login_record();
        return api_->ReqUserLogin(&r, request_id) == 0 && front_.read_packet(p, 3000);
    }

    ScriptedFront front_;
    RecordingSpi spi_;
    CTarnXeloMduserApi* api_ = nullptr;
    WirePacket kx_;
};

// The key exchange opens the connection; then each reply of the table in
// md_api.data, the ones a good front never gives among them.
TEST_F(MdApiLoopbackTest, KeyExchangeFirstThenEachReplyOfTheTable) {
    for (const TestTable::Row& r : TestTable::read("api/md_api.data", "reply")) {
        SCOPED_TRACE(r.line);
        start();
        ASSERT_TRUE(spi_.wait_for("connected"));
        EXPECT_EQ(kx_.tid, 0x6091u);
        EXPECT_EQ(kx_.request_id, 0u);
        EXPECT_EQ(kx_.fields[0].first, 0x800Au);
        EXPECT_EQ(kx_.fields[0].second, std::string("\x01\x7E\xB7\xEB", 4));  // 25081835
        reply(std::stoi(r[1]), r[2] == "-" ? nullptr : r[2].c_str());
        WirePacket login;
        ASSERT_EQ(login_and_read(login), r[1] == "0");     // an error holds the login
        EXPECT_TRUE(r[1] != "0" || login.tid == 0x1001u);  // in clear, read as such
        if (r[3] == "bare") front_.send_packet(0x1002, 42, wire::rsp_info(0, ""));
        const std::string event = TestTable::text(r, 4);
        EXPECT_TRUE(event.empty() || spi_.wait_for(event)) << event;
        if (r[3] == "bare") {  // closed, then back with a fresh key pair
            EXPECT_TRUE(front_.wait_closed());
            EXPECT_EQ(spi_.count("login", true), 0);
            const std::string first_text = kx_.fields[1].second;
            accept_and_read_key_exchange();
            EXPECT_TRUE(spi_.wait_for("connected", 2));
            EXPECT_NE(kx_.fields[1].second, first_text);
        }
        stop();
        front_.drop();
        spi_.events.clear();
    }
}

TEST_F(MdApiLoopbackTest, LoginRefusalsBeforeTheQueue) {
    start();
    ASSERT_TRUE(spi_.wait_for("connected"));
    CTarnXeloReqUserLoginField r = login_record();
    strcpy(r.UserProductInfo, "   ");
    EXPECT_EQ(api_->ReqUserLogin(&r, 1), -6);
    memset(r.UserProductInfo, 'x', sizeof r.UserProductInfo);  // byte 40 is cut
    reply(0);
    WirePacket p, second;
    ASSERT_EQ(api_->ReqUserLogin(&r, 1), 0);
    // Logins are spaced by a second per object, answered or not: the second
    // is queued at once and leaves a second after the first.
    auto t0 = Clock::now();
    ASSERT_EQ(api_->ReqUserLogin(&r, 2), 0);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));
    ASSERT_TRUE(front_.read_packet(p));
    ASSERT_TRUE(front_.read_packet(second));
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(900));
    EXPECT_EQ(p.request_id * 10 + second.request_id, 12u);
    EXPECT_EQ(p.fields[0].second.substr(77, 41), std::string(40, 'x') + '\0');
    front_.send_packet(0x1002, 1,
                       wire::rsp_info(0, "") + wire::field(0x000B, std::string(141, '\0')));
    ASSERT_TRUE(spi_.wait_for("login 0: 1 L  "));
    EXPECT_EQ(api_->ReqUserLogin(&r, 3), -5);
    front_.drop();
    ASSERT_TRUE(spi_.wait_for("disconnected 4097"));
    EXPECT_EQ(api_->ReqUserLogin(&r, 4), -12);
}

// The topics a login asks for, as "topic@position".
std::vector<std::string> asked(const WirePacket& login) {
    std::vector<std::string> out;
    for (const auto& f : login.fields)
        if (f.first == 0x0001)
            out.push_back(std::to_string(static_cast<short>(wire::load_be32(&f.second[0]) >> 16)) +
                          "@" + std::to_string(static_cast<int>(wire::load_be32(&f.second[2]))));
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
    const std::string& r = p.fields[0].second;
    ASSERT_EQ(p.fields[0].first, 0x000Au);
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
    std::string digest =
        sm3(protocol.substr(7, 7) + std::to_string(second) + " trader01" + protocol.substr(34, 7));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(protocol[18 + i], digest[2 * i]) << i;

    // Topics from the saved count, from the beginning (its saved 40 is not
    // used), from now.
    EXPECT_EQ(asked(p), (std::vector<std::string>{"3@1200", "5@0", "7@-1"}));

    // The terminal information opens with the private key to
    // InitEncryptInfo and the front mode.
    ASSERT_EQ(p.fields[4].first, 0x8008u);
    unsigned char block[300];
    std::string b64 = p.fields[4].second.substr(0, p.fields[4].second.find('\0'));
    ASSERT_EQ(EVP_DecodeBlock(block, reinterpret_cast<const unsigned char*>(b64.data()),
                              static_cast<int>(b64.size())),
              135);
    EVP_PKEY* key = load_private_key();
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(oaep_decrypt(key, block + 5, 128), "123450");
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

// When slow, a connected callback that takes its time while another thread
// releases the API.
class CycleSpi : public RecordingSpi {
  public:
    bool slow = false;
    void OnFrontConnected() override {
        add("connected");
        if (!slow) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        add("connected done");
    }
};

// The project's front on its own reactor thread: topic 3 at 1000 packets a
// second, enciphered.
class FrontTest : public FlowDirTest {
  protected:
    void start_front() {
        Front::FrontServer::Options o;
        o.listen = {"127.0.0.1:0"};
        o.topics = {3};
        o.rate = 1000;
        o.trading_day = "20250912";
        std::string error;
        ASSERT_TRUE(server_.start(o, error)) << error;
        address_ = "tcp://127.0.0.1:" + std::to_string(server_.get_ports()[0]);
    }
    void TearDown() override {
        server_.stop();
        FlowDirTest::TearDown();
    }
    // One object's whole life, for topic 3 in the flow directory: Init
    // through the reactor (its own when null), connected, released and
    // joined from another thread, with the connected callback taking its
    // time when slow.
    void cycle(Parallel::FdReactor* reactor = nullptr, bool slow = false) {
        CycleSpi spi;
        spi.slow = slow;
        CTarnXeloMduserApi* api = new Api::MdApi(dir_.c_str(), reactor);
        api->RegisterSpi(&spi);
        EXPECT_EQ(api->RegisterFront(address_.c_str()), 0);
        EXPECT_EQ(api->SubscribeMarketDataTopic(3, TE_RESUME_FROM_BEGINNING), 0);
        ASSERT_EQ(api->Init(), 0);
        ASSERT_TRUE(spi.wait_for("connected"));
        std::thread([api] {
            EXPECT_EQ(api->Release(), 0);
            api->Join();
        }).join();
        std::vector<std::string> expect = {"connected", "connected done", "disconnected 0"};
        if (!slow) expect.erase(expect.begin() + 1);
        EXPECT_EQ(spi.lines(), expect);
    }
    // The front has seen every client go (bounded wait).
    bool no_clients() {
        for (int i = 0; i < 500 && server_.get_client_count() != 0; ++i) usleep(10000);
        return server_.get_client_count() == 0;
    }

    Front::FrontServer server_;
    std::string address_;
};

int count_entries(const char* dir) {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir), {}));
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

// Objects in turn on their own reactors, then on a network thread their
// owner supplies, started or driven by hand: Init and Release use that
// reactor without starting or stopping it and leave it as they found it.
// Nothing is left behind: no thread, no descriptor.
TEST_F(FrontTest, CyclesOnOwnAndOwnersReactorsLeaveNothingBehind) {
    start_front();
    // The first cycle also lets the process start what it starts once (a
    // sanitizer's background thread), so that only leaks are counted.
    cycle(nullptr, true);
    ASSERT_TRUE(no_clients());
    const int threads = count_entries("/proc/self/task");
    const int fds = count_entries("/proc/self/fd");
    for (int i = 0; i < 20 && !HasFatalFailure(); ++i) cycle();

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
        cycle(reactor);
        // The reactor was neither stopped nor left holding the object's parts.
        EXPECT_TRUE(reactor->is_running());
        EXPECT_TRUE(one_fd());
        EXPECT_EQ(reactor->get_handler_count(), handlers);
    }
    reactor->stop();
    reactor->join();
    delete reactor;

    auto* hand = new HandDriven();
    std::atomic<bool> stop{false};
    std::thread loop([&] { hand->drive(stop); });
    for (int round = 0; round < 2; ++round) cycle(hand);
    stop.store(true);
    loop.join();
    // Its thread claimed the loop only while it drove it.
    EXPECT_EQ(hand->get_id(), 0);
    EXPECT_FALSE(hand->is_running());
    delete hand;

    EXPECT_TRUE(no_clients());
    EXPECT_EQ(count_entries("/proc/self/task"), threads);
    // The front closes its side of the last connection on its own thread.
    for (int i = 0; i < 500 && count_entries("/proc/self/fd") > fds; ++i) usleep(10000);
    EXPECT_LE(count_entries("/proc/self/fd"), fds);
}

// The key material against libcrypto: the per-connection key agreement
// and the terminal information sealed with the embedded key.
class KeyExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override { length_ = Api::KeyExchange::build_text(&sm2_, text_); }
    int derive(const std::string& s) {
        return Api::KeyExchange::derive_key(&sm2_, text_, s.c_str(), type_, key_);
    }
    Cipher::Sm2 sm2_{true};
    char text_[Api::KeyExchange::TEXT_SIZE];
    int length_ = 0;
    unsigned char type_ = 0xEE;
    unsigned long key_ = 0;
};

TEST_F(KeyExchangeTest, TextIsTwoPrefixedCoordinatesOfAPointOnTheCurve) {
    ASSERT_EQ(length_, 132);
    const std::string text(text_, Api::KeyExchange::TEXT_SIZE);
    EXPECT_EQ(text.substr(0, 2) + text.substr(66, 2), "4040");
    EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), 132u);
    EXPECT_EQ(text.substr(132), std::string(Api::KeyExchange::TEXT_SIZE - 132, '\0'));

    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    BIGNUM *x = nullptr, *y = nullptr;
    BN_hex2bn(&x, std::string(text_ + 2, 64).c_str());
    BN_hex2bn(&y, std::string(text_ + 68, 64).c_str());
    EC_POINT* p = EC_POINT_new(group);
    ASSERT_EQ(EC_POINT_set_affine_coordinates(group, p, x, y, nullptr), 1);
    EXPECT_EQ(EC_POINT_is_on_curve(group, p, nullptr), 1);
    EC_POINT_free(p);
    BN_free(x);
    BN_free(y);
    EC_GROUP_free(group);
    // (A fresh pair per connection is the loopback reply test's.)
}

TEST_F(KeyExchangeTest, RepliesGiveTheMaskedOrSealedKey) {
    EXPECT_EQ(Api::KeyExchange::make_mask(text_), reference_mask(text_));
    EXPECT_EQ(derive("0"), 0);  // a lone zero: no cipher
    EXPECT_EQ(type_, 0xEE);
    const unsigned char bytes[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    unsigned long v = 0xEFCDAB8967452301UL;
    ASSERT_EQ(derive("B0123456789ABCDEF"), 1);
    EXPECT_EQ(type_, 1);
    EXPECT_EQ(key_, v ^ reference_mask(text_));
    // Lower-case digits and a 17th digit give the same key; 'D' selects type 3.
    ASSERT_EQ(derive("D0123456789abcdef7"), 1);
    EXPECT_EQ(type_, 3);
    EXPECT_EQ(key_, v ^ reference_mask(text_));
    // Sealed to the text's public key, '0' + type: the little-endian key itself.
    ASSERT_EQ(derive("4" + seal_hex(text_, bytes, 8)), 1);
    EXPECT_EQ(type_, 4);
    EXPECT_EQ(key_, v);
}

TEST_F(KeyExchangeTest, UnusableRepliesClose) {
    const unsigned char nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::string sealed = seal_hex(text_, eight, 8);
    std::string tampered = sealed;
    tampered[sealed.size() - 1] = tampered[sealed.size() - 1] == '0' ? '1' : '0';
    struct Case {
        std::string reply;
        const char* why;
    } cases[] = {
        {"B01234567890123", "14 digits: a sealed key of type 18 that does not open"},
        {"", "empty"},
        {"/0123456789ABCDEF", "below '0'"},
        {"5", "no key bytes"},
        {"1" + seal_hex(text_, nine, 9), "sealed key of nine bytes"},
        {"1" + tampered, "check value fails"},
        {"BXY23456789ABCDEF", "short form with a non-digit"},
        {"1" + sealed.substr(0, 20) + "G" + sealed.substr(21), "sealed form with a non-digit"},
    };
    for (const Case& c : cases) EXPECT_EQ(derive(c.reply), -24) << c.why;
}

// The embedded public key is the test key's public half: only then does
// its private half open what the library seals.
TEST(EncryptApiInfo, PrivateKeyRecoversInitInfoAndFrontMode) {
    EVP_PKEY* key = load_private_key();
    ASSERT_NE(key, nullptr);
    struct Case {
        int info;
        char mode;
        const char* plain;
    } cases[] = {{12345, '0', "123450"}, {25081835, '1', "250818351"}, {-7, '0', "-70"}};
    for (const Case& c : cases) {
        char out[Api::ENCRYPTED_INFO_SIZE];
        memset(out, 'x', sizeof out);
        ASSERT_NE(Api::encrypt_api_info(out, c.info, c.mode), 0);
        std::string text(out);
        ASSERT_EQ(text.size(), 180u);  // Base64 of 133 bytes
        for (size_t i = text.size(); i < sizeof out; ++i) ASSERT_EQ(out[i], 0);
        unsigned char block[200];
        int n = EVP_DecodeBlock(block, reinterpret_cast<const unsigned char*>(out), 180);
        ASSERT_EQ(n, 135);  // EVP_DecodeBlock keeps the padding's two bytes
        EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 5), std::string("#128\0", 5));
        EXPECT_EQ(oaep_decrypt(key, block + 5, 128), c.plain);
    }
    EVP_PKEY_free(key);
}

}  // namespace

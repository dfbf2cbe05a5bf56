// The real API object against a front over loopback: connection, key
// exchange, login, disconnection and shutdown, as the application sees them.
#include <dirent.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "api/TarnXeloMduserApi.h"
#include "cipher/sm2.h"
#include "tests/api/key_reference.h"
#include "tests/api/raw_front.h"

// The public callback class has no virtual destructor (its slot layout is
// fixed); the recording classes here are never deleted through it.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

using ApiTest::RawFront;
using ApiTest::WireField;
using ApiTest::WirePacket;
using Clock = std::chrono::steady_clock;

// Records every callback as one line of text.
class RecordingSpi : public CTarnXeloMduserSpi {
  public:
    void OnFrontConnected() override { add("connected"); }
    void OnFrontDisconnected(int reason) override { add("disconnected " + std::to_string(reason)); }
    void OnHeartBeatWarning(int lapse) override { add("heartbeat " + std::to_string(lapse)); }
    void OnRspError(CTarnXeloRspInfoField* info, int id, bool last) override {
        add("error " + std::to_string(info->ErrorID) + " " + std::to_string(id) + " " +
            std::to_string(last));
    }
    void OnRspUserLogin(CTarnXeloRspUserLoginField* login, CTarnXeloRspInfoField* info, int id,
                        bool last) override {
        add("login " + std::to_string(info->ErrorID) + " " + std::to_string(id) + " " +
            std::to_string(last) + " " + login->UserID + " " + login->TradingDay);
    }

    // Waits until at least count lines equal line.
    bool wait_for(const std::string& line, int count = 1, int timeout_ms = 5000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return count_locked(line) >= count; });
    }
    int count(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_locked(line);
    }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

  protected:
    void add(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
        cv_.notify_all();
    }

  private:
    int count_locked(const std::string& line) const {
        int n = 0;
        for (const std::string& l : lines_) n += l == line;
        return n;
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> lines_;
};

std::string be32(int v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(static_cast<unsigned>(v) >> (24 - 8 * i));
    return s;
}

std::string text(const std::string& s, size_t width) {
    std::string out = s.substr(0, width - 1);
    out.resize(width, '\0');
    return out;
}

WireField rsp_info(int error) {
    return {0x0003, be32(error) + text(error ? "refused" : "", 81)};
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

CTarnXeloReqUserLoginField login_record() {
    CTarnXeloReqUserLoginField r;
    memset(&r, 0, sizeof r);
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

class MdApiLoopbackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/xelmd_loop_XXXXXX";
        dir_ = mkdtemp(tmpl);
        con_path_ = dir_ + "/md.con";
    }
    void TearDown() override {
        if (api_) {
            api_->Release();
            api_->Join();
        }
        unlink(con_path_.c_str());
        unlink((dir_ + "/req.log").c_str());
        rmdir(dir_.c_str());
    }

    // Create, register, Init, accept and read the key-exchange request.
    void start() {
        api_ = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
        api_->RegisterSpi(&spi_);
        ASSERT_EQ(api_->RegisterFront(front_.address().c_str()), 0);
        for (auto& t : topics_) ASSERT_EQ(api_->SubscribeMarketDataTopic(t.first, t.second), 0);
        if (log_) {
            ASSERT_EQ(api_->OpenRequestLog((dir_ + "/req.log").c_str()), 0);
        }
        ASSERT_EQ(api_->Init(), 0);
        accept_and_read_key_exchange();
    }
    void accept_and_read_key_exchange() {
        ASSERT_TRUE(front_.accept_client(5000));
        ASSERT_TRUE(front_.read_packet(kx_, 5000));
        const WireField* t = kx_.find(0x8017);
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->data.size(), 301u);
        kx_text_ = t->data;
    }
    void stop() {
        api_->Release();
        api_->Join();
        api_ = nullptr;
    }

    // The key-exchange reply; an empty session text leaves the field out.
    void reply(int error, const std::string* session_text) {
        std::vector<WireField> f = {rsp_info(error), {0x800A, be32(12345)}};
        if (session_text) f.push_back({0x8017, text(*session_text, 301)});
        front_.send_packet(0x6092, 0, f);
    }
    void reply_plain() {
        std::string zero = "0";
        reply(0, &zero);
    }

    bool login_and_read(WirePacket& p, int request_id = 42) {
        CTarnXeloReqUserLoginField r = login_record();
        if (api_->ReqUserLogin(&r, request_id) != 0) return false;
        return front_.read_packet(p, 3000);
    }

    RawFront front_;
    RecordingSpi spi_;
    CTarnXeloMduserApi* api_ = nullptr;
    std::string dir_, con_path_;
    std::vector<std::pair<int, TE_RESUME_TYPE>> topics_;
    bool log_ = false;
    WirePacket kx_;
    std::string kx_text_;
};

TEST_F(MdApiLoopbackTest, ConnectSendsKeyExchangeThenReportsConnected) {
    start();
    EXPECT_TRUE(spi_.wait_for("connected"));
    EXPECT_EQ(kx_.header.tid, 0x6091u);
    EXPECT_EQ(kx_.header.request_id, 0u);
    EXPECT_EQ(kx_.header.version, 4);
    ASSERT_EQ(kx_.fields.size(), 2u);
    EXPECT_EQ(kx_.fields[0].id, 0x800A);
    EXPECT_EQ(kx_.fields[0].data, std::string("\x01\x7E\xB7\xEB", 4));  // 25081835
    EXPECT_EQ(kx_text_.substr(0, 2), "40");
    EXPECT_EQ(kx_text_.substr(66, 2), "40");
    EXPECT_EQ(kx_text_.find_first_not_of("0123456789ABCDEF"), 132u);
    EXPECT_EQ(kx_text_.substr(132), std::string(169, '\0'));
}

TEST_F(MdApiLoopbackTest, LoneZeroReplyLetsTheLoginGoInClear) {
    start();
    ASSERT_TRUE(spi_.wait_for("connected"));
    reply_plain();
    WirePacket login;
    ASSERT_TRUE(login_and_read(login));
    EXPECT_EQ(login.header.tid, 0x1001u);
    EXPECT_EQ(front_.bad_frames_, 0);
}

TEST_F(MdApiLoopbackTest, MaskedKeySetsXorCipherOnWhatTheClientSendsNext) {
    start();
    ASSERT_TRUE(spi_.wait_for("connected"));
    unsigned long key = 0x0123456789ABCDEFUL;
    std::string s = "B" + ApiTest::le_hex(key ^ ApiTest::reference_mask(kx_text_.data()));
    reply(0, &s);
    front_.set_rx_key(key);
    front_.set_tx_key(key);
    WirePacket login;
    ASSERT_TRUE(login_and_read(login));
    EXPECT_EQ(login.header.tid, 0x1001u);
    EXPECT_EQ(login.header.request_id, 42u);
    EXPECT_EQ(front_.bad_frames_, 0);
    // The front's enciphered login response is read back with the same key.
    front_.send_packet(0x1002, 42,
                       {rsp_info(0),
                        {0x000B, text("20250915", 9) + std::string(9 + 13, '\0') +
                                     text("trader01", 16) + text("p1", 11) + std::string(61, '\0') +
                                     be32(9) + be32(0) + be32(0) + std::string(9, '\0')}});
    EXPECT_TRUE(spi_.wait_for("login 0 42 1 trader01 20250915"));
}

TEST_F(MdApiLoopbackTest, SealedKeyIsOpenedWithTheConnectionsPrivateKey) {
    start();
    ASSERT_TRUE(spi_.wait_for("connected"));
    unsigned long key = 0xFEDCBA9876543210UL;
    unsigned char plain[8];
    for (int i = 0; i < 8; ++i) plain[i] = static_cast<unsigned char>(key >> (8 * i));
    Cipher::Sm2 sm2(true);
    ASSERT_TRUE(
        sm2.set_public_key(kx_text_.substr(2, 64).c_str(), kx_text_.substr(68, 64).c_str()));
    unsigned char sealed[128];
    int n = 0;
    sm2.encode(nullptr, n, plain, 8);
    sm2.encode(sealed, n, plain, 8);
    std::string s = "1" + ApiTest::hex(sealed, n);
    reply(0, &s);
    front_.set_rx_key(key);
    WirePacket login;
    ASSERT_TRUE(login_and_read(login));
    EXPECT_EQ(login.header.tid, 0x1001u);
    EXPECT_EQ(front_.bad_frames_, 0);
}

TEST_F(MdApiLoopbackTest, ReplyWithoutSessionTextKeepsTheCipher) {
    start();
    ASSERT_TRUE(spi_.wait_for("connected"));
    reply(0, nullptr);
    WirePacket login;
    ASSERT_TRUE(login_and_read(login));
    EXPECT_EQ(login.header.tid, 0x1001u);
    EXPECT_EQ(front_.bad_frames_, 0);
}

TEST_F(MdApiLoopbackTest, UnusableRepliesCloseWithMappedReasonsThenReconnect) {
    start();
    ASSERT_TRUE(spi_.wait_for("connected"));
    std::string s = "B01234567890123";  // 14 digits: a sealed key that does not open
    reply(0, &s);
    EXPECT_TRUE(spi_.wait_for("disconnected 8195"));
    EXPECT_TRUE(front_.wait_closed(3000));

    accept_and_read_key_exchange();
    ASSERT_TRUE(spi_.wait_for("connected", 2));
    reply_plain();
    WirePacket login;
    ASSERT_TRUE(login_and_read(login));
    front_.send_packet(0x1002, 42, {rsp_info(0)});  // no login record
    EXPECT_TRUE(spi_.wait_for("disconnected 8200"));
    EXPECT_EQ(spi_.count("login 0 42 1  "), 0);

    accept_and_read_key_exchange();
    EXPECT_TRUE(spi_.wait_for("connected", 3));
}

TEST_F(MdApiLoopbackTest, ErrorReplyReportsAndHoldsTheLogin) {
    start();
    ASSERT_TRUE(spi_.wait_for("connected"));
    std::string zero = "0";
    reply(7, &zero);
    EXPECT_TRUE(spi_.wait_for("error 7 0 1"));
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
    reply_plain();
    WirePacket p;
    ASSERT_EQ(api_->ReqUserLogin(&r, 1), 0);
    ASSERT_TRUE(front_.read_packet(p, 3000));
    EXPECT_EQ(p.fields[0].data.substr(77, 41), std::string(40, 'x') + '\0');
    front_.send_packet(0x1002, 1, {rsp_info(0), {0x000B, std::string(141, '\0')}});
    ASSERT_TRUE(spi_.wait_for("login 0 1 1  "));
    EXPECT_EQ(api_->ReqUserLogin(&r, 2), -5);
    front_.drop();
    ASSERT_TRUE(spi_.wait_for("disconnected 4097"));
    EXPECT_EQ(api_->ReqUserLogin(&r, 3), -12);
}

TEST_F(MdApiLoopbackTest, LoginCarriesFileStateTagTopicsAndTerminalInfo) {
    std::ofstream(con_path_) << "20250912,  7\n    3,      1200\n    5,        40\n";
    topics_ = {{3, TE_RESUME_FROM_SAVED}, {5, TE_RESUME_FROM_BEGINNING}, {7, TE_RESUME_FROM_NOW}};
    log_ = true;
    start();
    EXPECT_STREQ(api_->GetTradingDay(), "20250912");
    ASSERT_TRUE(spi_.wait_for("connected"));
    reply_plain();
    unsigned int before = static_cast<unsigned int>(time(nullptr));
    WirePacket p;
    ASSERT_TRUE(login_and_read(p));
    unsigned int after = static_cast<unsigned int>(time(nullptr));

    ASSERT_EQ(p.fields.size(), 5u);
    const std::string& r = p.fields[0].data;
    ASSERT_EQ(p.fields[0].id, 0x000A);
    ASSERT_EQ(r.size(), 204u);
    EXPECT_EQ(r.substr(0, 9), text("20250912", 9));
    EXPECT_EQ(r.substr(9, 16), text("trader01", 16));
    EXPECT_EQ(r.substr(36, 41), text("secret", 41));
    EXPECT_EQ(r.substr(118, 41), text("TARN XelMdApi V2.00 202508.1835", 41));
    EXPECT_EQ(r.substr(200, 4), be32(7));
    std::string protocol = r.substr(159, 41);
    EXPECT_EQ(protocol.substr(0, 7), std::string("XELO 4\0", 7));
    const unsigned char* tag = reinterpret_cast<const unsigned char*>(protocol.data() + 7);
    unsigned int hidden = ApiTest::load_be32(protocol.data() + 14);
    unsigned int second = hidden ^ (unsigned(tag[5]) << 24 | unsigned(tag[6]) << 16 |
                                    unsigned(tag[32]) << 8 | tag[33]);
    EXPECT_GE(second, before);
    EXPECT_LE(second, after);
    std::string digest = ApiTest::sm3(protocol.substr(7, 7) + std::to_string(second) + " trader01" +
                                      protocol.substr(34, 7));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(protocol[18 + i], digest[2 * i]) << i;

    // Topics from the saved count, from the beginning (its saved 40 is not
    // used), from now.
    EXPECT_EQ(p.fields[1].id, 0x0001);
    EXPECT_EQ(p.fields[1].data, std::string("\x00\x03", 2) + be32(1200));
    EXPECT_EQ(p.fields[2].data, std::string("\x00\x05", 2) + be32(0));
    EXPECT_EQ(p.fields[3].data, std::string("\x00\x07", 2) + be32(-1));

    // The terminal information opens with the private key to
    // InitEncryptInfo and the front mode.
    ASSERT_EQ(p.fields[4].id, 0x8008);
    unsigned char block[300];
    std::string b64 = p.fields[4].data.substr(0, p.fields[4].data.find('\0'));
    ASSERT_EQ(EVP_DecodeBlock(block, reinterpret_cast<const unsigned char*>(b64.data()),
                              static_cast<int>(b64.size())),
              135);
    FILE* f = fopen(XELMD_SOURCE_DIR "/tools/keys/terminal_rsa_private.pem", "r");
    ASSERT_NE(f, nullptr);
    EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    fclose(f);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    unsigned char plain[128];
    size_t plain_len = sizeof plain;
    ASSERT_EQ(EVP_PKEY_decrypt_init(ctx), 1);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING);
    ASSERT_EQ(EVP_PKEY_decrypt(ctx, plain, &plain_len, block + 5, 128), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(plain), plain_len), "123450");
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);

    // The request log never shows the password.
    std::string log = read_file(dir_ + "/req.log");
    EXPECT_NE(log.find(",ReqUserLogin,"), std::string::npos) << log;
    EXPECT_NE(log.find("Password=\"\""), std::string::npos) << log;
    EXPECT_EQ(log.find("secret"), std::string::npos) << log;

    // The response's trading day and data center reach the file at Release.
    front_.send_packet(0x1002, 42,
                       {rsp_info(0),
                        {0x000B, text("20250915", 9) + std::string(22, '\0') +
                                     text("trader01", 16) + text("p1", 11) + std::string(61, '\0') +
                                     be32(9) + be32(0) + be32(0) + std::string(9, '\0')}});
    ASSERT_TRUE(spi_.wait_for("login 0 42 1 trader01 20250915"));
    EXPECT_STREQ(api_->GetTradingDay(), "20250915");
    stop();
    EXPECT_EQ(spi_.lines(), (std::vector<std::string>{"connected", "login 0 42 1 trader01 20250915",
                                                      "disconnected 0"}));
    EXPECT_EQ(read_file(con_path_),
              "20250915,  9\n    3,      1200\n    5,         0\n    7,         0\n");
}

TEST_F(MdApiLoopbackTest, SecondLoginWithinASecondWaitsItOut) {
    start();
    ASSERT_TRUE(spi_.wait_for("connected"));
    reply_plain();
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

TEST_F(MdApiLoopbackTest, LostConnectionIsReportedWrittenAndRetried) {
    topics_ = {{4, TE_RESUME_FROM_BEGINNING}};
    start();
    ASSERT_TRUE(spi_.wait_for("connected"));
    std::string first = kx_text_;
    front_.drop();
    ASSERT_TRUE(spi_.wait_for("disconnected 4097"));
    // The file holds the state at the moment of loss before the report.
    EXPECT_EQ(read_file(con_path_), "       0,  0\n    4,         0\n");
    accept_and_read_key_exchange();  // the same front again after 1.5 s
    EXPECT_TRUE(spi_.wait_for("connected", 2));
    EXPECT_NE(kx_text_, first);  // a fresh key pair per connection
}

TEST_F(MdApiLoopbackTest, SilentFrontGetsAWarningThenAnIdleClose) {
    api_ = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
    api_->RegisterSpi(&spi_);
    ASSERT_EQ(api_->RegisterFront(front_.address().c_str()), 0);
    ASSERT_EQ(api_->SetHeartbeatTimeout(4), 0);  // warning past 2 s, close at 4 s
    ASSERT_EQ(api_->Init(), 0);
    accept_and_read_key_exchange();
    ASSERT_TRUE(spi_.wait_for("disconnected 8193", 1, 10000));
    std::vector<std::string> lines = spi_.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "connected");
    EXPECT_TRUE(lines[1] == "heartbeat 2" || lines[1] == "heartbeat 3") << lines[1];
}

// Callbacks that take their time while another thread releases the API.
class SlowSpi : public RecordingSpi {
  public:
    void OnFrontConnected() override {
        add("connected");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        add("connected done");
    }
};

TEST_F(MdApiLoopbackTest, ReleaseAndJoinFromAnotherThreadWhileACallbackRuns) {
    SlowSpi slow;
    api_ = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
    api_->RegisterSpi(&slow);
    ASSERT_EQ(api_->RegisterFront(front_.address().c_str()), 0);
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

TEST_F(MdApiLoopbackTest, TwentyCyclesLeaveNoThreadOrDescriptor) {
    int threads = count_entries("/proc/self/task");
    int fds = count_entries("/proc/self/fd");
    for (int i = 0; i < 20; ++i) {
        RecordingSpi spi;
        CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
        api->RegisterSpi(&spi);
        api->RegisterFront(front_.address().c_str());
        ASSERT_EQ(api->Init(), 0);
        ASSERT_TRUE(front_.accept_client(5000));
        ASSERT_TRUE(spi.wait_for("connected"));
        ASSERT_EQ(api->Release(), 0);
        api->Join();
        front_.drop();
    }
    EXPECT_EQ(count_entries("/proc/self/task"), threads);
    EXPECT_EQ(count_entries("/proc/self/fd"), fds);
}

}  // namespace

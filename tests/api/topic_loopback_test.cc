// The real API against a hand-written front over loopback: topic
// announcements, market data reaching the callbacks, resume positions asked
// at the next login, a topic beyond the table, and a request answered.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "api/TarnXeloMduserApi.h"
#include "tests/api/raw_front.h"

// The public callback class has no virtual destructor (its slot layout is
// fixed); the recording class here is never deleted through it.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

using ApiTest::RawFront;
using ApiTest::WireField;
using ApiTest::WirePacket;

class LoopSpi : public CTarnXeloMduserSpi {
  public:
    void OnFrontConnected() override { add("connected"); }
    void OnFrontDisconnected(int reason) override { add("disconnected " + std::to_string(reason)); }
    void OnRspUserLogin(CTarnXeloRspUserLoginField*, CTarnXeloRspInfoField* info, int,
                        bool) override {
        add("login " + std::to_string(info->ErrorID));
    }
    void OnPackageStart(int topic, int) override { add("start " + std::to_string(topic)); }
    void OnRspQryTopic(CTarnXeloDisseminationField* r, CTarnXeloRspInfoField* info, int id,
                       bool last) override {
        add("qry " + (r ? std::to_string(r->SequenceSeries) : std::string("null")) + " " +
            (info ? std::to_string(info->ErrorID) : std::string("none")) + " " +
            std::to_string(id) + (last ? " L" : ""));
    }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* r) override {
        add(std::string("depth ") + r->InstrumentID);
    }

    bool wait_for(const std::string& line, int count = 1, int timeout_ms = 5000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return count_locked(line) >= count; });
    }
    int count(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_locked(line);
    }

  private:
    void add(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
        cv_.notify_all();
    }
    int count_locked(const std::string& line) const {
        int n = 0;
        for (const std::string& l : lines_) n += l == line;
        return n;
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> lines_;
};

std::string be16(int v) {
    return std::string{static_cast<char>(v >> 8), static_cast<char>(v)};
}
std::string be32(int v) {
    unsigned u = static_cast<unsigned>(v);
    return be16(static_cast<int>(u >> 16)) + be16(static_cast<int>(u & 0xFFFF));
}
std::string text(const std::string& s, size_t width) {
    std::string out = s.substr(0, width - 1);
    out.resize(width, '\0');
    return out;
}
WireField rsp_info(int error) {
    return {0x0003, be32(error) + text("", 81)};
}
WireField dissemination(int topic, int position) {
    return {0x0001, be16(topic) + be32(position)};
}
// A snapshot with only its instrument set (doubles all zero bits).
WireField depth(const std::string& instrument) {
    std::string s = text("20250912", 9) + text("", 9) + be32(0) + std::string(7 * 8, '\0') +
                    be32(0) + std::string(8 * 8, '\0') + text("", 9) + be32(0) +
                    text(instrument, 31) + std::string(10 * 12, '\0') + text("", 9);
    return {0x2408, s};
}

class TopicLoopbackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/xelmd_topic_XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override {
        if (api_) {
            api_->Release();
            api_->Join();
        }
        for (const char* f : {"/md.con", "/req.log", "/rsp.log"}) unlink((dir_ + f).c_str());
        rmdir(dir_.c_str());
    }
    void start(const std::vector<int>& topics) {
        api_ = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
        api_->RegisterSpi(&spi_);
        ASSERT_EQ(api_->RegisterFront(front_.address().c_str()), 0);
        for (int t : topics)
            ASSERT_EQ(api_->SubscribeMarketDataTopic(t, TE_RESUME_FROM_BEGINNING), 0);
        ASSERT_EQ(api_->OpenRequestLog((dir_ + "/req.log").c_str()), 0);
        ASSERT_EQ(api_->OpenResponseLog((dir_ + "/rsp.log").c_str()), 0);
        ASSERT_EQ(api_->Init(), 0);
    }
    // Accepts the connection, answers the key exchange in clear, reads the
    // login and logs the user in.
    void connect_and_login(WirePacket& login, int connection) {
        ASSERT_TRUE(front_.accept_client(5000));
        WirePacket kx;
        ASSERT_TRUE(front_.read_packet(kx, 5000));
        ASSERT_TRUE(spi_.wait_for("connected", connection));
        front_.send_packet(0x6092, 0, {rsp_info(0), {0x800A, be32(1)}, {0x8017, text("0", 301)}});
        CTarnXeloReqUserLoginField r;
        memset(&r, 0, sizeof r);
        strcpy(r.UserID, "trader01");
        strcpy(r.ParticipantID, "p1");
        strcpy(r.UserProductInfo, "prod 1");
        ASSERT_EQ(api_->ReqUserLogin(&r, 1), 0);
        ASSERT_TRUE(front_.read_packet(login, 5000));
        ASSERT_EQ(login.header.tid, 0x1001u);
        std::string user = text("", 9 + 9) + text("", 9 + 13) + text("trader01", 16) +
                           text("p1", 11) + std::string(61, '\0') + be32(0) + be32(0) + be32(0) +
                           text("", 9);
        front_.send_packet(0x1002, 1, {rsp_info(0), {0x000B, user}});
        ASSERT_TRUE(spi_.wait_for("login 0", connection));
    }
    // The topics a login asks for, as "topic@position".
    static std::vector<std::string> asked(const WirePacket& login) {
        std::vector<std::string> out;
        for (const WireField& f : login.fields)
            if (f.id == 0x0001)
                out.push_back(
                    std::to_string(static_cast<short>(ApiTest::load_be32(f.data.data()) >> 16)) +
                    "@" + std::to_string(static_cast<int>(ApiTest::load_be32(f.data.data() + 2))));
        return out;
    }
    std::string read_file(const char* name) {
        std::ifstream in(dir_ + name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    RawFront front_;
    LoopSpi spi_;
    CTarnXeloMduserApi* api_ = nullptr;
    std::string dir_;
};

TEST_F(TopicLoopbackTest, AnnouncedTopicsResumeWhereTheyStoodAfterAReconnection) {
    start({3});
    WirePacket login;
    connect_and_login(login, 1);
    EXPECT_EQ(asked(login), (std::vector<std::string>{"3@0"}));
    front_.send_packet(0x5901, 0, {dissemination(3, 0), dissemination(9, 500)});
    const int N = 1200;
    for (int i = 1; i <= N; ++i) front_.send_packet(0x5803, 0, {depth("cu2510")}, 3, i);
    front_.send_packet(0x5803, 0, {depth("ag2512")}, 9, 501);
    ASSERT_TRUE(spi_.wait_for("depth cu2510", N, 20000));
    ASSERT_TRUE(spi_.wait_for("depth ag2512"));
    EXPECT_EQ(spi_.count("start 3"), N);

    front_.drop();
    ASSERT_TRUE(spi_.wait_for("disconnected 4097"));
    connect_and_login(login, 2);
    // Topic 3 from the position reached; the announced topic 9 is not asked.
    EXPECT_EQ(asked(login), (std::vector<std::string>{"3@1200"}));
    EXPECT_EQ(spi_.count("disconnected 4097"), 1);
}

TEST_F(TopicLoopbackTest, ATopicBeyondTheTableKeepsTheConnectionAndItsData) {
    std::vector<int> topics;
    for (int t = 1; t <= 64; ++t) topics.push_back(t);
    start(topics);
    WirePacket login;
    connect_and_login(login, 1);
    EXPECT_EQ(asked(login).size(), 64u);
    front_.send_packet(0x5901, 0, {dissemination(100, 0), dissemination(5, 0)});
    front_.send_packet(0x5803, 0, {depth("beyond")}, 100, 1);
    front_.send_packet(0x5803, 0, {depth("inside")}, 5, 1);
    front_.send_packet(0x5803, 0, {depth("beyond")}, 100, 2);
    EXPECT_TRUE(spi_.wait_for("depth beyond", 2));
    EXPECT_TRUE(spi_.wait_for("depth inside"));
    // The connection stays: a request still goes out and is answered.
    CTarnXeloDisseminationField q = {100, 0};
    ASSERT_EQ(api_->ReqQryTopic(&q, 77), 0);
    WirePacket p;
    ASSERT_TRUE(front_.read_packet(p, 5000));
    EXPECT_EQ(p.header.tid, 0x4201u);
    EXPECT_EQ(p.header.request_id, 77u);
    front_.send_packet(
        0x4202, 77,
        {rsp_info(0), dissemination(3, 10), dissemination(5, 1), dissemination(100, 2)});
    EXPECT_TRUE(spi_.wait_for("qry 100 none 77 L"));
    EXPECT_EQ(spi_.count("qry 3 0 77"), 1);
    EXPECT_EQ(spi_.count("disconnected 8196"), 0);
    EXPECT_FALSE(front_.is_closed());
    EXPECT_NE(read_file("/req.log").find(",ReqQryTopic,SequenceSeries=\"100\" SequenceNo=\"0\"\n"),
              std::string::npos);
    EXPECT_NE(
        read_file("/rsp.log").find(",OnRspQryTopic,0,,SequenceSeries=\"3\" SequenceNo=\"10\"\n"),
        std::string::npos);
}

}  // namespace

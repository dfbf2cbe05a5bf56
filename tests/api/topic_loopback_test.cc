// The real API against a hand-written front over loopback: topic
// announcements, market data reaching the callbacks, resume positions asked
// at the next login, a topic beyond the table, and a request answered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/api/raw_front.h"

namespace {

using ApiTest::read_file;
using ApiTest::WireField;
using ApiTest::WirePacket;
using TopicLoopbackTest = ApiTest::LoopbackTest;

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

// A snapshot with only its instrument and trading day set.
std::string depth(const char* instrument) {
    CTarnXeloDepthMarketDataField r;
    memset(&r, 0, sizeof r);
    strcpy(r.TradingDay, "20250912");
    strcpy(r.InstrumentID, instrument);
    return wire::depth(r);
}

TEST_F(TopicLoopbackTest, AnnouncedTopicsResumeWhereTheyStoodAfterAReconnection) {
    start({{3, TE_RESUME_FROM_BEGINNING}}, true);
    WirePacket login;
    connect_and_login(login, 1);
    EXPECT_EQ(asked(login), (std::vector<std::string>{"3@0"}));
    front_.send_packet(0x5901, 0, wire::dissemination(3, 0) + wire::dissemination(9, 500));
    const int N = 1200;
    for (int i = 1; i <= N; ++i) front_.send_packet(0x5803, 0, depth("cu2510"), 3, i);
    front_.send_packet(0x5803, 0, depth("ag2512"), 9, 501);
    ASSERT_TRUE(spi_.wait_for("depth cu2510", N, 20000));
    ASSERT_TRUE(spi_.wait_for("depth ag2512"));
    EXPECT_EQ(spi_.count("start 3 ", true), N);

    front_.drop();
    ASSERT_TRUE(spi_.wait_for("disconnected 4097"));
    accept_and_read_key_exchange();
    connect_and_login(login, 2);
    // Topic 3 from the position reached; the announced topic 9 is not asked.
    EXPECT_EQ(asked(login), (std::vector<std::string>{"3@1200"}));
    EXPECT_EQ(spi_.count("disconnected 4097"), 1);
}

TEST_F(TopicLoopbackTest, ATopicBeyondTheTableKeepsTheConnectionAndItsData) {
    std::vector<std::pair<int, TE_RESUME_TYPE>> topics;
    for (int t = 1; t <= 64; ++t) topics.push_back({t, TE_RESUME_FROM_BEGINNING});
    start(topics, true);
    WirePacket login;
    connect_and_login(login, 1);
    EXPECT_EQ(asked(login).size(), 64u);
    front_.send_packet(0x5901, 0, wire::dissemination(100, 0) + wire::dissemination(5, 0));
    front_.send_packet(0x5803, 0, depth("beyond"), 100, 1);
    front_.send_packet(0x5803, 0, depth("inside"), 5, 1);
    front_.send_packet(0x5803, 0, depth("beyond"), 100, 2);
    EXPECT_TRUE(spi_.wait_for("depth beyond", 2));
    EXPECT_TRUE(spi_.wait_for("depth inside"));
    // The connection stays: a request still goes out and is answered.
    CTarnXeloDisseminationField q = {100, 0};
    ASSERT_EQ(api_->ReqQryTopic(&q, 77), 0);
    WirePacket p;
    ASSERT_TRUE(front_.read_packet(p, 5000));
    EXPECT_EQ(p.header.tid, 0x4201u);
    EXPECT_EQ(p.header.request_id, 77u);
    front_.send_packet(0x4202, 77,
                       wire::rsp_info(0, "") + wire::dissemination(3, 10) +
                           wire::dissemination(5, 1) + wire::dissemination(100, 2));
    EXPECT_TRUE(spi_.wait_for("qry 100@2 none 77 L"));
    EXPECT_EQ(spi_.count("qry 3@10 0: 77"), 1);
    EXPECT_EQ(spi_.count("disconnected 8196"), 0);
    EXPECT_FALSE(front_.is_closed());
    EXPECT_NE(
        read_file(dir_ + "/req.log").find(",ReqQryTopic,SequenceSeries=\"100\" SequenceNo=\"0\"\n"),
        std::string::npos);
    EXPECT_NE(read_file(dir_ + "/rsp.log")
                  .find(",OnRspQryTopic,0,,SequenceSeries=\"3\" SequenceNo=\"10\"\n"),
              std::string::npos);
}

}  // namespace

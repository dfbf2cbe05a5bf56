#include <gtest/gtest.h>

#include <cstring>

#include "api/md_api.h"
#include "api/topic_key.h"
#include "tests/api/dispatch_helpers.h"

namespace {

using Api::MdApi;
using Api::MdApiProbe;

const int MAX_TOPICS = MdApi::MAX_TOPICS;

class TopicTest : public ::testing::Test {
  protected:
    void SetUp() override {
        api.create_market_data_cache();
        api.RegisterSpi(&spi);
    }
    void TearDown() override {
        MdApiProbe::destroy_topic_flows(&api);
        api.destroy_market_data_cache();
    }
    void announce(const std::string& fields) {
        std::string u = wire::unit({0x5901, 1, 1, 'L', 0}, fields);
        api.on_write(0, u.data(), static_cast<unsigned short>(u.size()));
    }
    // A snapshot appended to the topic's flow as the session would.
    static void deliver(Network::XeloFlow* flow, const char* instrument) {
        CTarnXeloDepthMarketDataField r;
        memset(&r, 0, sizeof r);
        strcpy(r.InstrumentID, instrument);
        std::string u = wire::unit(
            {0x5803, flow->get_subject(), static_cast<unsigned>(flow->get_count() + 1), 'L', 0},
            wire::depth(r));
        void* at = flow->alloc_object(static_cast<unsigned short>(u.size()));
        memcpy(at, u.data(), u.size());
        flow->commit_object(static_cast<unsigned short>(u.size()), false);
    }

    MdApi api{"", nullptr};
    RecordingSpi spi;
};

TEST_F(TopicTest, AnnouncedTopicGetsAnEntryAndAFlowAtItsPosition) {
    ASSERT_EQ(api.SubscribeMarketDataTopic(3, TE_RESUME_FROM_SAVED), 0);
    announce(wire::dissemination(9, 500));
    ASSERT_EQ(api.get_topic_count(), 2);
    const MdApi::TopicEntry& e = api.get_topic(1);
    EXPECT_EQ(e.topic_id, 9);
    EXPECT_EQ(e.resume_type, TE_RESUME_FROM_NOW);
    EXPECT_FALSE(e.send_at_login);  // the next login does not ask for it
    ASSERT_NE(e.flow, nullptr);
    EXPECT_EQ(e.flow->get_count(), 500u);
    EXPECT_EQ(e.flow->get_subject(), 9);
    deliver(e.flow, "cu2510");
    EXPECT_EQ(e.flow->get_count(), 501u);
    EXPECT_EQ(spi.events, (std::vector<std::string>{"start 9 501", "depth cu2510", "end 9 501"}));
    // A second announcement repositions the same flow.
    announce(wire::dissemination(9, 20));
    EXPECT_EQ(api.get_topic_count(), 2);
    EXPECT_EQ(api.get_topic(1).flow, e.flow);
    EXPECT_EQ(e.flow->get_count(), 20u);
    // Nothing else came of the announcements.
    EXPECT_EQ(spi.events.size(), 3u);
    EXPECT_EQ(MdApiProbe::flux(&api).received, 0u);
}

TEST_F(TopicTest, AnnouncementStopsAtAFieldOfAnotherKind) {
    announce(wire::dissemination(9, 1) + wire::rsp_info(0, "") + wire::dissemination(10, 1));
    EXPECT_EQ(api.get_topic_count(), 1);
    announce(wire::dissemination(11, 1) + wire::dissemination(12, 7));
    ASSERT_EQ(api.get_topic_count(), 3);
    EXPECT_EQ(api.get_topic(2).flow->get_count(), 7u);
}

TEST_F(TopicTest, TopicsBeyondTheTableStillGetAFlowOutsideIt) {
    for (int t = 1; t <= MdApi::MAX_TOPICS; ++t)
        ASSERT_EQ(api.SubscribeMarketDataTopic(t, TE_RESUME_FROM_BEGINNING), 0);
    announce(wire::dissemination(100, 40) + wire::dissemination(101, 50));
    EXPECT_EQ(api.get_topic_count(), MAX_TOPICS);
    ASSERT_EQ(MdApiProbe::overflow_count(&api), 2);
    Network::XeloFlow* flow = MdApiProbe::overflow_flow(&api, 0);
    EXPECT_EQ(flow->get_subject(), 100);
    EXPECT_EQ(flow->get_count(), 40u);
    // Its packets are dispatched like any topic's.
    deliver(flow, "ag2512");
    EXPECT_EQ(spi.events, (std::vector<std::string>{"start 100 41", "depth ag2512", "end 100 41"}));
    EXPECT_NE(MdApiProbe::cached(&api, 100, "ag2512"), nullptr);
    // Announced again at the next login: the same flow, repositioned.
    announce(wire::dissemination(100, 7));
    EXPECT_EQ(MdApiProbe::overflow_count(&api), 2);
    EXPECT_EQ(flow->get_count(), 7u);
    // The extra room has its own bound; what passes it is ignored.
    std::string many;
    for (int t = 200; t < 200 + MdApi::MAX_OVERFLOW_TOPICS; ++t) many += wire::dissemination(t, 1);
    announce(many);
    EXPECT_EQ(MdApiProbe::overflow_count(&api), MdApi::MAX_OVERFLOW_TOPICS);
    EXPECT_EQ(api.get_topic_count(), MAX_TOPICS);
    api.recycle_overflow_flows();
}

TEST(TopicKey, SameInstrumentOnTwoTopicsAreTwoKeys) {
    Api::TopicInstrumentKey a, b, c;
    Api::set_topic_key(&a, 3, "cu2510");
    Api::set_topic_key(&b, 7, "cu2510");
    Api::set_topic_key(&c, 3, "cu2510");
    EXPECT_FALSE(Api::equal_topic_instrument(&a, &b));
    EXPECT_TRUE(Api::equal_topic_instrument(&a, &c));
    EXPECT_NE(Api::hash_topic_instrument(&a), Api::hash_topic_instrument(&b));
    // Bytes behind the text do not take part.
    c.instrument[20] = 'z';
    EXPECT_TRUE(Api::equal_topic_instrument(&a, &c));
    EXPECT_EQ(Api::hash_topic_instrument(&a), Api::hash_topic_instrument(&c));
    // An id is cut to 30 characters.
    const std::string long_id(40, 'q');
    Api::set_topic_key(&a, 3, long_id.c_str());
    EXPECT_EQ(std::string(a.instrument), long_id.substr(0, 30));
}

}  // namespace

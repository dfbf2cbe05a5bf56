#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "api/md_api.h"
#include "tests/api/dispatch_helpers.h"

namespace {

using Api::MdApi;
using Api::MdApiProbe;

unsigned long g_now_ms = 0;
unsigned long g_local_time = 0;
unsigned long now_ms() {
    return g_now_ms;
}
unsigned long local_time() {
    return g_local_time;
}

// 2025-09-12 09:30:00.125 as Base::Measure::get_time gives it.
const int NOT_LOGGED_IN = MdApi::ERR_NOT_LOGGED_IN;
const int TABLE_FULL = MdApi::ERR_TABLE_FULL;

const unsigned long EXAMPLE_TIME = 250912093000UL * 10000000UL + 1250000UL;

TEST(ControlFlux, RateWindowsAndUnansweredStalls) {
    // One script: each step makes requests at a time; a passing request is
    // counted as sent, and answered steps get a response for each.
    struct Step {
        unsigned long now;
        int responses_before;
        bool answered;
        int requests;
        int expect;  // result of the last request of the step
    };
    const Step script[] = {
        {5000, 0, true, 64, 0},                       // a full window passes
        {5000, 0, true, 1, MdApi::ERR_RATE},          // the 65th in the window
        {6000, 0, true, 1, MdApi::ERR_RATE},          // 1000 ms is not more than 1000
        {6001, 0, true, 1, 0},                        // a new window
        {6001, 0, false, 32, 0},                      // 32 unanswered
        {6001, 0, false, 1, MdApi::ERR_UNANSWERED},   // stall from the window's stamp
        {16001, 0, false, 1, MdApi::ERR_UNANSWERED},  // ten seconds are not past
        {16002, 0, false, 1, 0},                      // one passes, new window
        {16002, 0, false, 1, MdApi::ERR_UNANSWERED},  // the next stall starts
        {26002, 0, false, 1, MdApi::ERR_UNANSWERED},
        {26002, 2, false, 1, 0},  // answers bring it below 32 at once
    };
    MdApi::FluxValue flux = {};
    flux.per_second_limit = 64;
    flux.outstanding_limit = 32;
    int line = 0;
    for (const Step& s : script) {
        ++line;
        flux.received += static_cast<unsigned>(s.responses_before);
        int rc = 0;
        for (int i = 0; i < s.requests; ++i) {
            rc = MdApi::control_flux(&flux, s.now);
            if (rc != 0) continue;
            ++flux.sent;
            if (s.answered) ++flux.received;
        }
        EXPECT_EQ(rc, s.expect) << "step " << line << " at " << s.now;
    }
}

TEST(ControlFlux, ZeroLimitsDisableTheirCheck) {
    MdApi::FluxValue flux = {};
    flux.sent = 1000;
    EXPECT_EQ(MdApi::control_flux(&flux, 1), 0);
    flux.per_second_limit = 64;
    flux.window_base = 1000;
    flux.stamp = 1;
    EXPECT_EQ(MdApi::control_flux(&flux, 2), 0);  // 1000 sent, none answered, no limit
    flux.sent = 1064;
    EXPECT_EQ(MdApi::control_flux(&flux, 2), MdApi::ERR_RATE);
}

class RequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_now_ms = 100000;
        g_local_time = EXAMPLE_TIME;
        MdApiProbe::set_clocks(&api, &now_ms, &local_time);
        snprintf(log_path, sizeof log_path, "/tmp/request_test_%d.log", getpid());
        remove(log_path);
    }
    void TearDown() override {
        MdApiProbe::disconnect(&api);
        remove(log_path);
    }
    void connect_and_login() {
        MdApiProbe::connect(&api, &sent);
        MdApiProbe::login(&api, "trader01", "P0001");
    }
    std::string log_text() {
        std::ifstream in(log_path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Field area of a sent unit (no extension).
    static std::string fields_of(const std::string& unit) { return unit.substr(26); }
    static unsigned tid_of(const std::string& unit) { return Base::load_be32(unit.data() + 10); }
    static unsigned request_id_of(const std::string& unit) {
        return Base::load_be32(unit.data() + 22);
    }

    MdApi api{"", nullptr};
    UnitSink sent;
    char log_path[64];
};

TEST_F(RequestTest, RefusedWhenNotLoggedInAndSubscribeStillClearsSendAtLogin) {
    ASSERT_EQ(api.SubscribeMarketDataTopic(5, TE_RESUME_FROM_BEGINNING), 0);
    MdApiProbe::connect(&api, &sent);
    CTarnXeloReqUserLogoutField logout = {};
    CTarnXeloUserPasswordUpdateField update = {};
    CTarnXeloDisseminationField topic = {5, 0};
    EXPECT_EQ(api.ReqUserLogout(&logout, 1), NOT_LOGGED_IN);
    EXPECT_EQ(api.ReqUserPasswordUpdate(&update, 2), NOT_LOGGED_IN);
    EXPECT_EQ(api.ReqQryTopic(&topic, 3), NOT_LOGGED_IN);
    EXPECT_TRUE(api.get_topic(0).send_at_login);
    EXPECT_EQ(api.ReqSubscribeTopic(&topic, 4), NOT_LOGGED_IN);
    EXPECT_FALSE(api.get_topic(0).send_at_login);
    EXPECT_TRUE(sent.units.empty());
    EXPECT_EQ(MdApiProbe::flux(&api).sent, 0u);
}

TEST_F(RequestTest, SubscribeWithAFullTopicTableIsRefused) {
    for (int t = 1; t <= MdApi::MAX_TOPICS; ++t)
        ASSERT_EQ(api.SubscribeMarketDataTopic(t, TE_RESUME_FROM_NOW), 0);
    connect_and_login();
    CTarnXeloDisseminationField topic = {3, 0};
    EXPECT_EQ(api.ReqSubscribeTopic(&topic, 1), TABLE_FULL);
    EXPECT_TRUE(api.get_topic(2).send_at_login);  // refused before the table is looked at
    EXPECT_TRUE(sent.units.empty());
}

TEST_F(RequestTest, RequestsPassTheRateAndUnansweredLimits) {
    connect_and_login();
    CTarnXeloDisseminationField topic = {3, 0};
    // Answered at once, so only the rate limits them.
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(api.ReqQryTopic(&topic, i), 0) << i;
        ++MdApiProbe::flux(&api).received;
    }
    EXPECT_EQ(api.ReqQryTopic(&topic, 64), MdApi::ERR_RATE);
    g_now_ms += 1000;
    EXPECT_EQ(api.ReqQryTopic(&topic, 65), MdApi::ERR_RATE);
    EXPECT_EQ(MdApiProbe::flux(&api).sent, 64u);  // refusals are not counted
    g_now_ms += 1;
    EXPECT_EQ(api.ReqQryTopic(&topic, 66), 0);
    EXPECT_EQ(request_id_of(sent.units.back()), 66u);
    // Now unanswered: 31 more make 32 outstanding.
    for (int i = 0; i < 31; ++i) ASSERT_EQ(api.ReqQryTopic(&topic, i), 0);
    EXPECT_EQ(api.ReqQryTopic(&topic, 32), MdApi::ERR_UNANSWERED);
    g_now_ms += 9000;
    EXPECT_EQ(api.ReqQryTopic(&topic, 33), MdApi::ERR_UNANSWERED);
    // An error response is counted by the dispatcher and frees a slot.
    std::string u = wire::unit({0x0001, 1, 1, 'L', 7}, wire::rsp_info(11, "busy"));
    api.on_write(0, u.data(), static_cast<unsigned short>(u.size()));
    EXPECT_EQ(MdApiProbe::flux(&api).received, 65u);
    EXPECT_EQ(api.ReqQryTopic(&topic, 34), 0);
    EXPECT_EQ(api.ReqQryTopic(&topic, 35), MdApi::ERR_UNANSWERED);
    EXPECT_EQ(sent.units.size(), 97u);
}

TEST_F(RequestTest, PacketsCarryTidRequestIdAndTheFieldAsTheFrontReadsIt) {
    connect_and_login();
    CTarnXeloDisseminationField topic = {3, 1200};
    ASSERT_EQ(api.ReqSubscribeTopic(&topic, 41), 0);
    ASSERT_EQ(api.OpenRequestLog(log_path), 0);
    ASSERT_EQ(api.ReqQryTopic(&topic, 42), 0);
    EXPECT_EQ(log_text(),
              "20250912093000125,ReqQryTopic,SequenceSeries=\"3\" SequenceNo=\"1200\"\n");
    CTarnXeloReqUserLogoutField logout;
    memset(logout.UserID, 'U', sizeof logout.UserID);  // no terminator
    memset(logout.ParticipantID, 'P', sizeof logout.ParticipantID);
    ASSERT_EQ(api.ReqUserLogout(&logout, 43), 0);
    ASSERT_EQ(sent.units.size(), 3u);
    const std::string dissemination("\x00\x01\x00\x06\x00\x03\x00\x00\x04\xb0", 10);
    EXPECT_EQ(tid_of(sent.units[0]), 0x1F01u);
    EXPECT_EQ(request_id_of(sent.units[0]), 41u);
    EXPECT_EQ(fields_of(sent.units[0]), dissemination);
    EXPECT_EQ(tid_of(sent.units[1]), 0x4201u);
    EXPECT_EQ(fields_of(sent.units[1]), dissemination);
    EXPECT_EQ(tid_of(sent.units[2]), 0x1003u);
    std::string user = std::string(15, 'U') + '\0';
    std::string participant = std::string(10, 'P') + '\0';
    EXPECT_EQ(fields_of(sent.units[2]), std::string("\x00\x0c\x00\x1b", 4) + user + participant);
}

TEST_F(RequestTest, PasswordUpdateChecksTheLoggedInIdsAndHidesPasswordsInTheLog) {
    connect_and_login();
    ASSERT_EQ(api.OpenRequestLog(log_path), 0);
    struct Case {
        const char* user;
        const char* participant;
        int expect;
    };
    const Case cases[] = {
        {"trader01", "P0002", MdApi::ERR_OTHER_PARTICIPANT},
        {"trader02", "P0001", MdApi::ERR_OTHER_USER},
        {"trader02", "P0002", MdApi::ERR_OTHER_PARTICIPANT},  // participant first
        {"trader01", "P0001", 0},
    };
    for (const Case& c : cases) {
        CTarnXeloUserPasswordUpdateField r = {};
        strcpy(r.UserID, c.user);
        strcpy(r.ParticipantID, c.participant);
        strcpy(r.OldPassword, "old-secret");
        strcpy(r.NewPassword, "new-secret");
        EXPECT_EQ(api.ReqUserPasswordUpdate(&r, 9), c.expect) << c.user << "/" << c.participant;
    }
    ASSERT_EQ(sent.units.size(), 1u);
    EXPECT_NE(sent.units[0].find("old-secret"), std::string::npos);  // the front gets them
    EXPECT_EQ(log_text(),
              "20250912093000125,ReqUserPasswordUpdate,UserID=\"trader01\" "
              "ParticipantID=\"P0001\" OldPassword=\"\" NewPassword=\"\"\n");
}

TEST_F(RequestTest, PasswordUpdateTerminatesTheCallersIdsEvenWhenRefused) {
    connect_and_login();
    CTarnXeloUserPasswordUpdateField r;
    memset(&r, 'x', sizeof r);
    EXPECT_EQ(api.ReqUserPasswordUpdate(&r, 1), MdApi::ERR_OTHER_PARTICIPANT);
    EXPECT_EQ(r.ParticipantID[10], '\0');
    EXPECT_EQ(r.UserID[15], 'x');  // not reached
    memset(&r, 'x', sizeof r);
    strcpy(r.ParticipantID, "P0001");
    EXPECT_EQ(api.ReqUserPasswordUpdate(&r, 1), MdApi::ERR_OTHER_USER);
    EXPECT_EQ(r.UserID[15], '\0');
}

}  // namespace

#include "tools/record/recorder_spi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "tests/api/recording_spi.h"
#include "tests/tools/record/test_util.h"

namespace {

using Record::DepthRow;
using Record::Options;
using Record::RecorderSpi;

// Stands in for the library: remembers the login, answers the trading day.
class FakeApi : public ApiTest::SpyApi {
  public:
    CTarnXeloReqUserLoginField login = {};
    int login_result = 0;
    const char* GetTradingDay() override { return "20250912"; }
    int ReqUserLogin(CTarnXeloReqUserLoginField* field, int) override {
        login = *field;
        return login_result;
    }
};

struct Fixture {
    std::string dir = ToolTest::temp_dir();
    Options options;
    FakeApi api;
    std::unique_ptr<RecorderSpi> spi;
    Fixture() {
        options.dir = dir;
        options.user = "u1";
        options.password = "p1";
        options.participant = "P";
        options.topics = {{100, false}, {200, true}};
        spi.reset(new RecorderSpi(options, &api));
    }
    ~Fixture() { ToolTest::remove_dir(dir); }
};

// Rows carrying their packet's topic and number into each topic's file, and
// recording on after kills, are the recorder process test's.
TEST(RecorderSpi, RowsOutsideAPacketOrOfTopicsNotAskedForAreSkipped) {
    Fixture f;
    CTarnXeloDepthMarketDataField a = {};
    strcpy(a.InstrumentID, "a");
    f.spi->OnPackageStart(300, 7);  // announced, never asked for
    f.spi->OnRtnDepthMarketData(&a);
    f.spi->OnPackageEnd(300, 7);
    f.spi->OnPackageStart(100, 41);
    f.spi->OnRtnDepthMarketData(nullptr);
    f.spi->OnRtnDepthMarketData(&a);  // no day of its own: the login's day
    f.spi->OnPackageEnd(100, 41);
    f.spi->OnRtnDepthMarketData(&a);  // outside a packet: no number to resume by
    ASSERT_TRUE(f.spi->flush(true));
    EXPECT_FALSE(f.spi->failed());
    EXPECT_EQ(f.spi->get_rows(), 1u);
    const std::string text = ToolTest::read_file(f.dir + "/100-20250912.csv");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << "the header and one row";
    std::string status = f.spi->status(0);
    EXPECT_NE(status.find("1 rows | topic 100: 1 rows, packet 41"), std::string::npos) << status;
    EXPECT_NE(status.find("skipped 3"), std::string::npos) << status;
}

// A resumed topic (asked from packet 10, 11 and 12 on disk) replays without
// writing; any topic stops the recording at a packet that does not follow on.
TEST(RecorderSpi, ReplaysWhatIsOnDiskAndStopsWhereTheMergeWouldDiffer) {
    const std::string gap = "; rows from here would not continue the recording exactly";
    struct Case {
        int topic;
        std::vector<int> packets;
        unsigned long rows;
        std::string error;
    } cases[] = {
        {100, {11, 12, 13, 14}, 2, ""},
        {100,
         {15, 16},
         0,
         "topic 100: the recording began with packet 11, which the front no longer serves (it "
         "sent packet 15 first); the merged records cannot be rebuilt (record on into a new "
         "directory)"},
        {100, {11, 12, 13, 15, 16}, 1, "topic 100: packet 14 expected, 15 received" + gap},
        {100, {11, 12, 12}, 0, "topic 100: packet 13 expected, 12 received" + gap},
        {200, {500, 501, 503}, 2, "topic 200: packet 502 expected, 503 received" + gap},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.spi->resume(100, 10, 12);
        CTarnXeloDepthMarketDataField a = {};
        for (int p : c.packets) {
            f.spi->OnPackageStart(c.topic, p);
            f.spi->OnRtnDepthMarketData(&a);
            f.spi->OnPackageEnd(c.topic, p);
        }
        EXPECT_EQ(f.spi->get_rows(), c.rows) << c.packets.size();
        EXPECT_EQ(f.spi->get_error(), c.error);
    }
}

TEST(RecorderSpi, LogsInOnEveryConnectionAndStopsOnAFailure) {
    Fixture f;
    f.spi->OnFrontConnected();
    const CTarnXeloReqUserLoginField& r = f.api.login;
    EXPECT_EQ(
        std::string(r.UserID) + " " + r.Password + " " + r.ParticipantID + " " + r.UserProductInfo,
        "u1 p1 P xelmd-record");
    EXPECT_FALSE(f.spi->failed());

    CTarnXeloRspInfoField ok = {0, "ok"};
    f.spi->OnRspUserLogin(nullptr, &ok, 1, true);
    EXPECT_FALSE(f.spi->failed());
    CTarnXeloRspInfoField refused = {3, "bad password"};
    f.spi->OnRspUserLogin(nullptr, &refused, 2, true);
    EXPECT_TRUE(f.spi->failed());
    EXPECT_EQ(f.spi->get_error(), "login refused: error 3 bad password");

    Fixture g;
    g.api.login_result = -12;
    g.spi->OnFrontConnected();
    EXPECT_TRUE(g.spi->failed());
    EXPECT_EQ(g.spi->get_error(), "the login request was refused by the library (-12 not connected)");

    Fixture h;
    ToolTest::remove_dir(h.dir);  // the writer keeps the directory it was given
    CTarnXeloDepthMarketDataField a = {};
    h.spi->OnPackageStart(100, 1);
    h.spi->OnRtnDepthMarketData(&a);
    EXPECT_TRUE(h.spi->failed());
    EXPECT_EQ(h.spi->get_error(),
              "cannot open " + h.dir + "/100-20250912.csv: No such file or directory");
}

}  // namespace

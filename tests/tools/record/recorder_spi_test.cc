#include "tools/record/recorder_spi.h"

#include <gtest/gtest.h>

#include <sstream>

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
    // The rows of a topic's file as "topic packet instrument".
    std::vector<std::string> rows(int topic) {
        std::vector<std::string> out;
        Record::DepthText text;
        std::istringstream in(
            ToolTest::read_file(dir + "/" + std::to_string(topic) + "-20250912.csv"));
        std::string line;
        if (!std::getline(in, line)) return out;
        EXPECT_TRUE(text.read_csv_head(line.c_str()));
        for (DepthRow row; std::getline(in, line);) {
            EXPECT_TRUE(text.read_csv(line.c_str(), row));
            out.push_back(std::to_string(row.topic) + " " + std::to_string(row.sequence) + " " +
                          row.depth.InstrumentID);
        }
        return out;
    }
};

CTarnXeloDepthMarketDataField depth(const char* instrument, const char* day) {
    std::mt19937_64 rng(5);
    CTarnXeloDepthMarketDataField d = RecordTest::random_row(rng, 0, 0).depth;
    snprintf(d.InstrumentID, sizeof d.InstrumentID, "%s", instrument);
    snprintf(d.TradingDay, sizeof d.TradingDay, "%s", day);
    return d;
}

TEST(RecorderSpi, RowsCarryTheirPacketAndOnlyRecordedTopicsAreKept) {
    Fixture f;
    CTarnXeloDepthMarketDataField a = depth("a", "20250912"), b = depth("b", "");
    f.spi->OnRtnDepthMarketData(&a);  // outside a packet: no number to resume by
    f.spi->OnPackageStart(100, 41);
    f.spi->OnRtnDepthMarketData(&a);
    f.spi->OnRtnDepthMarketData(&b);  // no day of its own: the login's day
    f.spi->OnPackageEnd(100, 41);
    f.spi->OnPackageStart(300, 7);  // announced, never asked for
    f.spi->OnRtnDepthMarketData(&a);
    f.spi->OnPackageEnd(300, 7);
    f.spi->OnPackageStart(200, 9);
    f.spi->OnRtnDepthMarketData(&b);
    f.spi->OnRtnDepthMarketData(nullptr);
    f.spi->OnPackageEnd(200, 9);
    EXPECT_TRUE(f.rows(100).empty());  // nothing before the flush
    ASSERT_TRUE(f.spi->flush(true));
    EXPECT_FALSE(f.spi->failed());
    EXPECT_EQ(f.spi->get_rows(), 3u);

    EXPECT_EQ(f.rows(100), (std::vector<std::string>{"100 41 a", "100 41 b"}));
    EXPECT_EQ(f.rows(200), std::vector<std::string>{"200 9 b"});
    EXPECT_TRUE(f.rows(300).empty());

    std::string status = f.spi->status(0);
    EXPECT_NE(status.find("3 rows | topic 100: 2 rows, packet 41"), std::string::npos) << status;
    EXPECT_NE(status.find("skipped 3"), std::string::npos) << status;
}

TEST(RecorderSpi, LogsInOnEveryConnectionAndStopsOnRefusal) {
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
    EXPECT_NE(g.spi->get_error().find("(-12)"), std::string::npos);
}

TEST(RecorderSpi, AWriteFailureStopsRecording) {
    Fixture f;
    f.options.dir = f.dir + "/gone";  // the writer keeps the directory it was given
    RecorderSpi spi(f.options, &f.api);
    CTarnXeloDepthMarketDataField a = depth("a", "20250912");
    spi.OnPackageStart(100, 1);
    spi.OnRtnDepthMarketData(&a);
    EXPECT_TRUE(spi.failed());
    EXPECT_NE(spi.get_error().find("cannot open"), std::string::npos) << spi.get_error();
}

}  // namespace

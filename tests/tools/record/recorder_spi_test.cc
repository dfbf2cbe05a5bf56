#include "tools/record/recorder_spi.h"

#include <gtest/gtest.h>

#include "tests/tools/record/test_util.h"

namespace {

using Record::DepthRow;
using Record::Format;
using Record::Options;
using Record::RecorderSpi;

// Stands in for the library: remembers the login, answers the trading day.
class FakeApi : public CTarnXeloMduserApi {
  public:
    CTarnXeloReqUserLoginField login = {};
    int login_result = 0;
    const char* day = "20250912";

    const char* GetTradingDay() override { return day; }
    int ReqUserLogin(CTarnXeloReqUserLoginField* field, int) override {
        login = *field;
        return login_result;
    }
#define STUB(name, ...)              \
    int name(__VA_ARGS__) override { \
        return 0;                    \
    }
    // clang-format off
    STUB(Release) STUB(Init) STUB(Join) STUB(RegisterFront, const char*)
    STUB(RegisterNameServer, const char*) STUB(SubscribeMarketDataTopic, int, TE_RESUME_TYPE)
    STUB(SetHeartbeatTimeout, unsigned int) STUB(OpenRequestLog, const char*)
    STUB(OpenResponseLog, const char*) STUB(ReqUserLogout, CTarnXeloReqUserLogoutField*, int)
    STUB(ReqUserPasswordUpdate, CTarnXeloUserPasswordUpdateField*, int)
    STUB(ReqSubscribeTopic, CTarnXeloDisseminationField*, int)
    STUB(ReqQryTopic, CTarnXeloDisseminationField*, int)
    // clang-format on
#undef STUB
                                void RegisterSpi(CTarnXeloMduserSpi*) override {
    }
};

struct Fixture {
    std::string dir = RecordTest::temp_dir();
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
    ~Fixture() { RecordTest::remove_dir(dir); }
    std::vector<DepthRow> rows(int topic) {
        std::vector<DepthRow> out;
        Record::DepthText text;
        std::string lines =
            RecordTest::read_file(dir + "/" + std::to_string(topic) + "-20250912.csv");
        size_t at = lines.find('\n');
        if (at == std::string::npos) return out;
        EXPECT_TRUE(text.read_csv_head(lines.substr(0, at).c_str()));
        for (size_t next; (next = lines.find('\n', at + 1)) != std::string::npos; at = next) {
            DepthRow row;
            EXPECT_TRUE(text.read_csv(lines.substr(at + 1, next - at - 1).c_str(), row));
            out.push_back(row);
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

    std::vector<DepthRow> t100 = f.rows(100);
    ASSERT_EQ(t100.size(), 2u);
    EXPECT_EQ(t100[0].sequence, 41);
    EXPECT_STREQ(t100[0].depth.InstrumentID, "a");
    EXPECT_EQ(t100[1].sequence, 41);
    EXPECT_STREQ(t100[1].depth.InstrumentID, "b");
    std::vector<DepthRow> t200 = f.rows(200);
    ASSERT_EQ(t200.size(), 1u);
    EXPECT_EQ(t200[0].topic, 200);
    EXPECT_EQ(t200[0].sequence, 9);
    EXPECT_TRUE(f.rows(300).empty());

    std::string status = f.spi->status(0);
    EXPECT_NE(status.find("3 rows | topic 100: 2 rows, packet 41"), std::string::npos) << status;
    EXPECT_NE(status.find("skipped 3"), std::string::npos) << status;
}

TEST(RecorderSpi, LogsInOnEveryConnectionAndStopsOnRefusal) {
    Fixture f;
    f.spi->OnFrontConnected();
    EXPECT_STREQ(f.api.login.UserID, "u1");
    EXPECT_STREQ(f.api.login.Password, "p1");
    EXPECT_STREQ(f.api.login.ParticipantID, "P");
    EXPECT_STREQ(f.api.login.UserProductInfo, "xelmd-record");
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

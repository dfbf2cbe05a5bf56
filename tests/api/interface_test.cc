// The binary contract of the public header: slot orders, record layouts and
// the version. Everything here uses the header alone.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

#include "api/TarnXeloMduserApi.h"

// The interface classes have no virtual destructors (their slot layouts are
// fixed); the test classes here are never deleted through them.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// Objects the tests cannot end (no Init, so no Release) stay reachable here.
CTarnXeloMduserApi* volatile g_kept_api = nullptr;

namespace {

#define AT(rec, member, off) static_assert(offsetof(rec, member) == (off), #rec "::" #member)

AT(CTarnXeloReqUserLoginField, UserID, 9);
AT(CTarnXeloReqUserLoginField, ParticipantID, 25);
AT(CTarnXeloReqUserLoginField, Password, 36);
AT(CTarnXeloReqUserLoginField, UserProductInfo, 77);
AT(CTarnXeloReqUserLoginField, InterfaceProductInfo, 118);
AT(CTarnXeloReqUserLoginField, ProtocolInfo, 159);
AT(CTarnXeloReqUserLoginField, DataCenterID, 200);
AT(CTarnXeloRspUserLoginField, LoginTime, 9);
AT(CTarnXeloRspUserLoginField, MaxOrderLocalID, 18);
AT(CTarnXeloRspUserLoginField, UserID, 31);
AT(CTarnXeloRspUserLoginField, ParticipantID, 47);
AT(CTarnXeloRspUserLoginField, TradingSystemName, 58);
AT(CTarnXeloRspUserLoginField, DataCenterID, 120);
AT(CTarnXeloRspUserLoginField, PrivateFlowSize, 124);
AT(CTarnXeloRspUserLoginField, UserFlowSize, 128);
AT(CTarnXeloRspUserLoginField, ActionDay, 132);
AT(CTarnXeloRspInfoField, ErrorMsg, 4);
AT(CTarnXeloReqUserLogoutField, ParticipantID, 16);
AT(CTarnXeloRspUserLogoutField, ParticipantID, 16);
AT(CTarnXeloUserPasswordUpdateField, OldPassword, 27);
AT(CTarnXeloUserPasswordUpdateField, NewPassword, 68);
AT(CTarnXeloDisseminationField, SequenceNo, 4);
AT(CTarnXeloFlowMessageCancelField, TradingDay, 2);
AT(CTarnXeloFlowMessageCancelField, DataCenterID, 12);
AT(CTarnXeloFlowMessageCancelField, StartSequenceNo, 16);
AT(CTarnXeloFlowMessageCancelField, EndSequenceNo, 20);

AT(CTarnXeloDepthMarketDataField, SettlementGroupID, 9);
AT(CTarnXeloDepthMarketDataField, SettlementID, 20);
AT(CTarnXeloDepthMarketDataField, LastPrice, 24);
AT(CTarnXeloDepthMarketDataField, PreSettlementPrice, 32);
AT(CTarnXeloDepthMarketDataField, PreClosePrice, 40);
AT(CTarnXeloDepthMarketDataField, PreOpenInterest, 48);
AT(CTarnXeloDepthMarketDataField, OpenPrice, 56);
AT(CTarnXeloDepthMarketDataField, HighestPrice, 64);
AT(CTarnXeloDepthMarketDataField, LowestPrice, 72);
AT(CTarnXeloDepthMarketDataField, Volume, 80);
AT(CTarnXeloDepthMarketDataField, Turnover, 88);
AT(CTarnXeloDepthMarketDataField, OpenInterest, 96);
AT(CTarnXeloDepthMarketDataField, ClosePrice, 104);
AT(CTarnXeloDepthMarketDataField, SettlementPrice, 112);
AT(CTarnXeloDepthMarketDataField, UpperLimitPrice, 120);
AT(CTarnXeloDepthMarketDataField, LowerLimitPrice, 128);
AT(CTarnXeloDepthMarketDataField, PreDelta, 136);
AT(CTarnXeloDepthMarketDataField, CurrDelta, 144);
AT(CTarnXeloDepthMarketDataField, UpdateTime, 152);
AT(CTarnXeloDepthMarketDataField, UpdateMillisec, 164);
AT(CTarnXeloDepthMarketDataField, InstrumentID, 168);
AT(CTarnXeloDepthMarketDataField, BidPrice1, 200);
AT(CTarnXeloDepthMarketDataField, BidVolume1, 208);
AT(CTarnXeloDepthMarketDataField, AskPrice1, 216);
AT(CTarnXeloDepthMarketDataField, AskVolume1, 224);
AT(CTarnXeloDepthMarketDataField, BidPrice2, 232);
AT(CTarnXeloDepthMarketDataField, BidVolume2, 240);
AT(CTarnXeloDepthMarketDataField, AskPrice2, 248);
AT(CTarnXeloDepthMarketDataField, AskVolume2, 256);
AT(CTarnXeloDepthMarketDataField, BidPrice3, 264);
AT(CTarnXeloDepthMarketDataField, BidVolume3, 272);
AT(CTarnXeloDepthMarketDataField, AskPrice3, 280);
AT(CTarnXeloDepthMarketDataField, AskVolume3, 288);
AT(CTarnXeloDepthMarketDataField, BidPrice4, 296);
AT(CTarnXeloDepthMarketDataField, BidVolume4, 304);
AT(CTarnXeloDepthMarketDataField, AskPrice4, 312);
AT(CTarnXeloDepthMarketDataField, AskVolume4, 320);
AT(CTarnXeloDepthMarketDataField, BidPrice5, 328);
AT(CTarnXeloDepthMarketDataField, BidVolume5, 336);
AT(CTarnXeloDepthMarketDataField, AskPrice5, 344);
AT(CTarnXeloDepthMarketDataField, AskVolume5, 352);
AT(CTarnXeloDepthMarketDataField, ActionDay, 356);
static_assert(sizeof(TE_RESUME_TYPE) == sizeof(int), "resume type is int-sized");
static_assert(TE_RESUME_FROM_BEGINNING == 0 && TE_RESUME_FROM_SAVED == 1 && TE_RESUME_FROM_NOW == 2,
              "resume type values");
static_assert(sizeof(CTarnXeloMduserApi) == sizeof(void*), "no data members in the API class");
static_assert(sizeof(CTarnXeloMduserSpi) == sizeof(void*), "no data members in the Spi class");
// Applications override only the callbacks they need.
static_assert(!std::is_abstract<CTarnXeloMduserSpi>::value, "every callback has a default");

// Slot i of an object's virtual table (Itanium C++ ABI: the vptr is the first
// word and points at the first virtual function).
template <typename Fn>
Fn slot(void* object, int i) {
    void** vtable = *static_cast<void***>(object);
    Fn fn;
    memcpy(&fn, &vtable[i], sizeof fn);
    return fn;
}

// Records which operation a slot reached.
class SpyApi : public CTarnXeloMduserApi {
  public:
    std::string hit;
    int Release() override { return note("Release"); }
    int Init() override { return note("Init"); }
    int Join() override { return note("Join"); }
    const char* GetTradingDay() override {
        note("GetTradingDay");
        return "";
    }
    int RegisterFront(const char*) override { return note("RegisterFront"); }
    int RegisterNameServer(const char*) override { return note("RegisterNameServer"); }
    void RegisterSpi(CTarnXeloMduserSpi*) override { note("RegisterSpi"); }
    int SubscribeMarketDataTopic(int, TE_RESUME_TYPE) override {
        return note("SubscribeMarketDataTopic");
    }
    int SetHeartbeatTimeout(unsigned int) override { return note("SetHeartbeatTimeout"); }
    int OpenRequestLog(const char*) override { return note("OpenRequestLog"); }
    int OpenResponseLog(const char*) override { return note("OpenResponseLog"); }
    int ReqUserLogin(CTarnXeloReqUserLoginField*, int) override { return note("ReqUserLogin"); }
    int ReqUserLogout(CTarnXeloReqUserLogoutField*, int) override { return note("ReqUserLogout"); }
    int ReqUserPasswordUpdate(CTarnXeloUserPasswordUpdateField*, int) override {
        return note("ReqUserPasswordUpdate");
    }
    int ReqSubscribeTopic(CTarnXeloDisseminationField*, int) override {
        return note("ReqSubscribeTopic");
    }
    int ReqQryTopic(CTarnXeloDisseminationField*, int) override { return note("ReqQryTopic"); }

  private:
    int note(const char* name) {
        hit = name;
        return 0;
    }
};

TEST(PublicInterface, ApiSlotsAreInContractOrder) {
    const char* expected[16] = {"Release",
                                "Init",
                                "Join",
                                "GetTradingDay",
                                "RegisterFront",
                                "RegisterNameServer",
                                "RegisterSpi",
                                "SubscribeMarketDataTopic",
                                "SetHeartbeatTimeout",
                                "OpenRequestLog",
                                "OpenResponseLog",
                                "ReqUserLogin",
                                "ReqUserLogout",
                                "ReqUserPasswordUpdate",
                                "ReqSubscribeTopic",
                                "ReqQryTopic"};
    SpyApi spy;
    for (int i = 0; i < 16; ++i) {
        spy.hit.clear();
        // Every slot is called with two zeroed word arguments; each operation
        // takes at most two and reads none of them.
        slot<void (*)(void*, void*, long)>(&spy, i)(&spy, nullptr, 0);
        EXPECT_EQ(spy.hit, expected[i]) << "slot " << i;
    }
}

class SpySpi : public CTarnXeloMduserSpi {
  public:
    std::string hit;
    void OnFrontConnected() override { hit = "OnFrontConnected"; }
    void OnFrontDisconnected(int) override { hit = "OnFrontDisconnected"; }
    void OnHeartBeatWarning(int) override { hit = "OnHeartBeatWarning"; }
    void OnPackageStart(int, int) override { hit = "OnPackageStart"; }
    void OnPackageEnd(int, int) override { hit = "OnPackageEnd"; }
    void OnRspError(CTarnXeloRspInfoField*, int, bool) override { hit = "OnRspError"; }
    void OnRspUserLogin(CTarnXeloRspUserLoginField*, CTarnXeloRspInfoField*, int, bool) override {
        hit = "OnRspUserLogin";
    }
    void OnRspUserLogout(CTarnXeloRspUserLogoutField*, CTarnXeloRspInfoField*, int, bool) override {
        hit = "OnRspUserLogout";
    }
    void OnRspUserPasswordUpdate(CTarnXeloUserPasswordUpdateField*, CTarnXeloRspInfoField*, int,
                                 bool) override {
        hit = "OnRspUserPasswordUpdate";
    }
    void OnRspSubscribeTopic(CTarnXeloDisseminationField*, CTarnXeloRspInfoField*, int,
                             bool) override {
        hit = "OnRspSubscribeTopic";
    }
    void OnRspQryTopic(CTarnXeloDisseminationField*, CTarnXeloRspInfoField*, int, bool) override {
        hit = "OnRspQryTopic";
    }
    void OnRtnFlowMessageCancel(CTarnXeloFlowMessageCancelField*) override {
        hit = "OnRtnFlowMessageCancel";
    }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField*) override {
        hit = "OnRtnDepthMarketData";
    }
};

TEST(PublicInterface, SpiSlotsAreInContractOrder) {
    const char* expected[13] = {
        "OnFrontConnected",    "OnFrontDisconnected", "OnHeartBeatWarning",
        "OnPackageStart",      "OnPackageEnd",        "OnRspError",
        "OnRspUserLogin",      "OnRspUserLogout",     "OnRspUserPasswordUpdate",
        "OnRspSubscribeTopic", "OnRspQryTopic",       "OnRtnFlowMessageCancel",
        "OnRtnDepthMarketData"};
    SpySpi spy;
    for (int i = 0; i < 13; ++i) {
        spy.hit.clear();
        slot<void (*)(void*, void*, void*, long, long)>(&spy, i)(&spy, nullptr, nullptr, 0, 0);
        EXPECT_EQ(spy.hit, expected[i]) << "slot " << i;
    }
    // The defaults behind every slot ignore their arguments, null records too.
    CTarnXeloMduserSpi base;
    for (int i = 0; i < 13; ++i)
        slot<void (*)(void*, void*, void*, long, long)>(&base, i)(&base, nullptr, nullptr, 0, 0);
}

TEST(PublicInterface, VersionTextAndNumbers) {
    int date = -1, time = -1;
    const char* text = CTarnXeloMduserApi::GetVersion(date, time);
    EXPECT_STREQ(text, "TARN XelMdApi V2.00 202508.1835");
    EXPECT_EQ(date, 202508);
    EXPECT_EQ(time, 1835);
}

TEST(PublicInterface, FactoryObjectAnswersThroughItsSlots) {
    CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi("");
    ASSERT_NE(api, nullptr);
    using Text = int (*)(void*, const char*);
    using Uint = int (*)(void*, unsigned int);
    using Void = int (*)(void*);
    EXPECT_EQ(slot<Text>(api, 4)(api, "tcp://127.0.0.1:1"), 0);   // RegisterFront
    EXPECT_EQ(slot<Uint>(api, 8)(api, 30u), 0);                   // SetHeartbeatTimeout
    slot<void (*)(void*, void*)>(api, 6)(api, nullptr);           // RegisterSpi
    EXPECT_EQ(slot<Void>(api, 0)(api), -9);                       // Release before Init
    EXPECT_STREQ(slot<const char* (*)(void*)>(api, 3)(api), "");  // GetTradingDay
    // Without Init there is no Release to end Join, so the object stays
    // alive (and reachable) for the rest of the run.
    g_kept_api = api;
}

}  // namespace

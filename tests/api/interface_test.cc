// The binary contract of the public header: slot orders and record layouts.
// Everything here uses the header alone. (The version travels in the key
// exchange and the login, whose bytes the loopback tests check.)
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

#include "api/TarnXeloMduserApi.h"
#include "tests/api/recording_spi.h"

// The interface classes have no virtual destructors (their slot layouts are
// fixed); the test classes here are never deleted through them.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

// Member offsets of the public records, written out from the layout tables.
using ReqLogin = CTarnXeloReqUserLoginField;
using RspLogin = CTarnXeloRspUserLoginField;
using RspInfo = CTarnXeloRspInfoField;
using ReqLogout = CTarnXeloReqUserLogoutField;
using RspLogout = CTarnXeloRspUserLogoutField;
using Password = CTarnXeloUserPasswordUpdateField;
using Dissemination = CTarnXeloDisseminationField;
using Cancel = CTarnXeloFlowMessageCancelField;
using Depth = CTarnXeloDepthMarketDataField;
#define AT(rec, member, off) \
    { offsetof(rec, member), off, #rec "::" #member }
const struct {
    size_t offset, expected;
    const char* name;
} OFFSETS[] = {
    // clang-format off
    AT(ReqLogin, UserID, 9), AT(ReqLogin, ParticipantID, 25), AT(ReqLogin, Password, 36),
    AT(ReqLogin, UserProductInfo, 77), AT(ReqLogin, InterfaceProductInfo, 118),
    AT(ReqLogin, ProtocolInfo, 159), AT(ReqLogin, DataCenterID, 200), AT(RspLogin, LoginTime, 9),
    AT(RspLogin, MaxOrderLocalID, 18), AT(RspLogin, UserID, 31), AT(RspLogin, ParticipantID, 47),
    AT(RspLogin, TradingSystemName, 58), AT(RspLogin, DataCenterID, 120),
    AT(RspLogin, PrivateFlowSize, 124), AT(RspLogin, UserFlowSize, 128),
    AT(RspLogin, ActionDay, 132), AT(RspInfo, ErrorMsg, 4), AT(ReqLogout, ParticipantID, 16),
    AT(RspLogout, ParticipantID, 16), AT(Password, OldPassword, 27), AT(Password, NewPassword, 68),
    AT(Dissemination, SequenceNo, 4), AT(Cancel, TradingDay, 2), AT(Cancel, DataCenterID, 12),
    AT(Cancel, StartSequenceNo, 16), AT(Cancel, EndSequenceNo, 20), AT(Depth, SettlementGroupID, 9),
    AT(Depth, SettlementID, 20), AT(Depth, LastPrice, 24), AT(Depth, PreSettlementPrice, 32),
    AT(Depth, PreClosePrice, 40), AT(Depth, PreOpenInterest, 48), AT(Depth, OpenPrice, 56),
    AT(Depth, HighestPrice, 64), AT(Depth, LowestPrice, 72), AT(Depth, Volume, 80),
    AT(Depth, Turnover, 88), AT(Depth, OpenInterest, 96), AT(Depth, ClosePrice, 104),
    AT(Depth, SettlementPrice, 112), AT(Depth, UpperLimitPrice, 120),
    AT(Depth, LowerLimitPrice, 128), AT(Depth, PreDelta, 136), AT(Depth, CurrDelta, 144),
    AT(Depth, UpdateTime, 152), AT(Depth, UpdateMillisec, 164), AT(Depth, InstrumentID, 168),
    AT(Depth, BidPrice1, 200), AT(Depth, BidVolume1, 208), AT(Depth, AskPrice1, 216),
    AT(Depth, AskVolume1, 224), AT(Depth, BidPrice2, 232), AT(Depth, BidVolume2, 240),
    AT(Depth, AskPrice2, 248), AT(Depth, AskVolume2, 256), AT(Depth, BidPrice3, 264),
    AT(Depth, BidVolume3, 272), AT(Depth, AskPrice3, 280), AT(Depth, AskVolume3, 288),
    AT(Depth, BidPrice4, 296), AT(Depth, BidVolume4, 304), AT(Depth, AskPrice4, 312),
    AT(Depth, AskVolume4, 320), AT(Depth, BidPrice5, 328), AT(Depth, BidVolume5, 336),
    AT(Depth, AskPrice5, 344), AT(Depth, AskVolume5, 352), AT(Depth, ActionDay, 356),
    // clang-format on
};
#undef AT

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

using ApiTest::SpyApi;
#define SPY XELMD_TEST_SPY

// The names of a spy's slots, in slot order, as called with zeroed word
// arguments (each operation takes at most four and reads none of them).
template <typename Spy>
std::string slot_names(Spy& spy, int slots) {
    std::string names;
    for (int i = 0; i < slots; ++i) {
        spy.hit.clear();
        slot<void (*)(void*, void*, void*, long, long)>(&spy, i)(&spy, nullptr, nullptr, 0, 0);
        names += (i ? " " : "") + spy.hit;
    }
    return names;
}

TEST(PublicInterface, ApiSlotsAreInContractOrder) {
    SpyApi spy;
    EXPECT_EQ(slot_names(spy, 16),
              "Release Init Join GetTradingDay RegisterFront RegisterNameServer RegisterSpi "
              "SubscribeMarketDataTopic SetHeartbeatTimeout OpenRequestLog OpenResponseLog "
              "ReqUserLogin ReqUserLogout ReqUserPasswordUpdate ReqSubscribeTopic ReqQryTopic");
}

class SpySpi : public CTarnXeloMduserSpi {
  public:
    std::string hit;
    using Info = CTarnXeloRspInfoField*;
    // clang-format off
    SPY(void, OnFrontConnected) SPY(void, OnFrontDisconnected, int)
    SPY(void, OnHeartBeatWarning, int) SPY(void, OnPackageStart, int, int)
    SPY(void, OnPackageEnd, int, int) SPY(void, OnRspError, Info, int, bool)
    SPY(void, OnRspUserLogin, CTarnXeloRspUserLoginField*, Info, int, bool)
    SPY(void, OnRspUserLogout, CTarnXeloRspUserLogoutField*, Info, int, bool)
    SPY(void, OnRspUserPasswordUpdate, CTarnXeloUserPasswordUpdateField*, Info, int, bool)
    SPY(void, OnRspSubscribeTopic, CTarnXeloDisseminationField*, Info, int, bool)
    SPY(void, OnRspQryTopic, CTarnXeloDisseminationField*, Info, int, bool)
    SPY(void, OnRtnFlowMessageCancel, CTarnXeloFlowMessageCancelField*)
    SPY(void, OnRtnDepthMarketData, CTarnXeloDepthMarketDataField*)
    // clang-format on
};
#undef SPY

TEST(PublicInterface, SpiSlotsAreInContractOrder) {
    SpySpi spy;
    EXPECT_EQ(slot_names(spy, 13),
              "OnFrontConnected OnFrontDisconnected OnHeartBeatWarning OnPackageStart OnPackageEnd "
              "OnRspError OnRspUserLogin OnRspUserLogout OnRspUserPasswordUpdate "
              "OnRspSubscribeTopic OnRspQryTopic OnRtnFlowMessageCancel OnRtnDepthMarketData");
    // The defaults behind every slot ignore their arguments, null records too.
    CTarnXeloMduserSpi base;
    for (int i = 0; i < 13; ++i)
        slot<void (*)(void*, void*, void*, long, long)>(&base, i)(&base, nullptr, nullptr, 0, 0);
}

TEST(PublicInterface, RecordLayouts) {
    for (const auto& o : OFFSETS) EXPECT_EQ(o.offset, o.expected) << o.name;
}

}  // namespace

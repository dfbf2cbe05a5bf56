// Frames built with the library's packet code compared with bytes written out
// by hand from the layout tables (golden_bytes.data), so that a mistake
// shared by the client and the simulator cannot pass unnoticed.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/data_flow_iterator.h"
#include "field/xelfield.h"
#include "network/xelo_flow.h"
#include "network/xmp_packet.h"
#include "tests/tools/process.h"

namespace {

using Network::XeloFlow;
using Network::XeloPacket;

// The frame a kind of row of the table spells out.
std::string frame(const char* kind) {
    std::string out;
    for (const TestTable::Row& r : TestTable::read("tools/front/golden_bytes.data", kind)) {
        if (r[1] == "text") {
            std::string text = TestTable::text(r, 3);
            text.resize(std::stoul(r[2]), '\0');
            out += text;
            continue;
        }
        for (int n = r.size() > 3 ? std::stoi(r[3]) : 1; n > 0; --n)
            for (size_t i = 0; i < r[2].size(); i += 3)
                out += static_cast<char>(std::stoi(r[2].substr(i, 2), nullptr, 16));
    }
    return out;
}

const unsigned int MIB = 1 << 20;

// The library's unit for one packet of the records, as the first of a flow
// of the given series starting at the given position.
template <typename... R>
std::string unit(unsigned short series, unsigned long start, unsigned short tid,
                 unsigned int request_id, const R&... records) {
    XeloFlow flow(series, MIB, MIB, nullptr, nullptr, start, nullptr, false, false);
    XeloFlow::Writer writer(&flow, false);
    XeloPacket* p = writer.alloc_packet(tid, 0);
    p->header.request_id = request_id;
    const bool added = ((p->add_field(&R::DESC, &records, &R::to_stream) != nullptr) && ...);
    writer.commit_packet(false);
    Base::DataFlow::Iterator it(&flow, nullptr, nullptr, nullptr);
    const Base::DataFlow::Iterator::Result* r = it.next();
    return added && r != nullptr ? std::string(r->data, r->length) : "";
}

TEST(GoldenBytes, LoginRequestOnTheInitFlow) {
    Field::XelReqUserLoginField login;
    memset(&login, 0, sizeof login);
    strcpy(login.TradingDay, "20250912");
    strcpy(login.UserID, "u1");
    strcpy(login.ParticipantID, "P1");
    strcpy(login.UserProductInfo, "watch");
    strcpy(login.InterfaceProductInfo, "TARN XelMdApi V2.00 202508.1835");
    strcpy(login.ProtocolInfo, "XELO 4");
    login.DataCenterID = 1;
    EXPECT_EQ(unit(0, 0, 0x1001, 7, login, Field::XelDisseminationField{1001, 1200}),
              frame("login"));
}

TEST(GoldenBytes, KeyExchangeReplyWithMaskedKey) {
    Field::XelRspInfoField info;
    memset(&info, 0, sizeof info);
    strcpy(info.ErrorMsg, "OK");
    Field::XelUserapiSessionAuthInfoField session;
    memset(&session, 0, sizeof session);
    strcpy(session.EncryptUserApiInfo, "B0123456789ABCDEF");
    EXPECT_EQ(unit(1, 0, 0x6092, 0, info, Field::XelUserapiInitAuthInfoField{25081835}, session),
              frame("key_reply"));
}

TEST(GoldenBytes, DepthSnapshotOnATopicFlow) {
    Field::XelDepthMarketDataField d = {};
    const Base::FieldDesc& desc = Field::XelDepthMarketDataField::DESC;
    const long long null_price = LLONG_MAX;
    for (int i = 0; i < desc.member_count; ++i)  // every price null but the ones set below
        if (desc.members[i].size == 8)
            memcpy(reinterpret_cast<char*>(&d) + desc.members[i].offset, &null_price, 8);
    strcpy(d.TradingDay, "20250912");
    strcpy(d.SettlementGroupID, "SG01");
    d.SettlementID = 1;
    d.LastPrice = 3500500;  // 3500.5
    d.Volume = 12;
    d.Turnover = 12345678;  // 12345.678
    d.CurrDelta = 250000;   // 0.25 (six decimals)
    strcpy(d.UpdateTime, "09:30:00");
    d.UpdateMillisec = 500;
    strcpy(d.InstrumentID, "XA2509");
    d.BidPrice1 = 3500000;
    d.BidVolume1 = 3;
    d.AskPrice1 = 3501000;
    d.AskVolume1 = 4;
    strcpy(d.ActionDay, "20250912");
    EXPECT_EQ(unit(1001, 41, 0x5803, 0, d), frame("depth"));
}

TEST(GoldenBytes, HeartbeatControlFrame) {
    // A control unit carries only extensions: tag 5 with no value.
    Network::XmpPacket::Header header = {Network::XmpPacket::TYPE_CONTROL, 2, 0};
    char out[6];
    Network::XmpPacket::to_stream(&header, out);
    out[4] = 5;
    out[5] = 0;
    EXPECT_EQ(std::string(out, 6), frame("heartbeat"));
}

}  // namespace

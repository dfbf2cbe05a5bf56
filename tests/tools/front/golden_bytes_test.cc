// Frames built with the library's packet code compared with bytes written out
// by hand from the layout tables, so that a mistake shared by the client and
// the simulator cannot pass unnoticed.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/data_flow_iterator.h"
#include "field/xelfield.h"
#include "network/xelo_flow.h"
#include "network/xmp_packet.h"

namespace {

using Network::XeloFlow;
using Network::XeloPacket;

// Hand-written pieces: hex text ("00 0A") and strings zero-padded to their
// member size.
std::string hex(const char* text) {
    std::string b;
    for (const char* p = text; *p; p += *p == ' ' ? 1 : 2)
        if (*p != ' ') b += static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16));
    return b;
}
std::string str(const char* text, size_t size) {
    std::string s(text);
    s.resize(size, '\0');
    return s;
}

std::string first_unit(XeloFlow& flow) {
    Base::DataFlow::Iterator it(&flow, nullptr, nullptr, nullptr);
    const Base::DataFlow::Iterator::Result* r = it.next();
    return r == nullptr ? "" : std::string(r->data, r->length);
}

const unsigned int MIB = 1 << 20;

TEST(GoldenBytes, LoginRequestOnTheInitFlow) {
    XeloFlow flow(0, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    XeloFlow::Writer writer(&flow, false);
    XeloPacket* p = writer.alloc_packet(0x1001, 0);
    p->header.request_id = 7;
    Field::XelReqUserLoginField login;
    memset(&login, 0, sizeof login);
    strcpy(login.TradingDay, "20250912");
    strcpy(login.UserID, "u1");
    strcpy(login.ParticipantID, "P1");
    strcpy(login.UserProductInfo, "watch");
    strcpy(login.InterfaceProductInfo, "TARN XelMdApi V2.00 202508.1835");
    strcpy(login.ProtocolInfo, "XELO 4");
    login.DataCenterID = 1;
    ASSERT_NE(p->add_field(&Field::XelReqUserLoginField::DESC, &login,
                           &Field::XelReqUserLoginField::to_stream),
              nullptr);
    Field::XelDisseminationField topic = {1001, 1200};
    ASSERT_NE(p->add_field(&Field::XelDisseminationField::DESC, &topic,
                           &Field::XelDisseminationField::to_stream),
              nullptr);
    writer.commit_packet(false);

    EXPECT_EQ(first_unit(flow),
              hex("02 00 00 F0"              // data unit, 240 content bytes
                  "01 00"                    // compression: version 1, plain
                  "04 4C 00 00 00 00 10 01"  // version, 'L', series 0, tid
                  "00 00 00 01 00 02 00 DA"  // sequence 1, two fields, 218
                  "00 00 00 07"              // request id
                  "00 0A 00 CC") +           // XelReqUserLoginField, 204 bytes
                  str("20250912", 9) +
                  str("u1", 16) + str("P1", 11) + str("", 41) + str("watch", 41) +
                  str("TARN XelMdApi V2.00 202508.1835", 41) + str("XELO 4", 41) +
                  hex("00 00 00 01") +
                  hex("00 01 00 06 03 E9 00 00 04 B0"));  // topic 1001 from 1200
}

TEST(GoldenBytes, KeyExchangeReplyWithMaskedKey) {
    XeloFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    XeloFlow::Writer writer(&flow, false);
    XeloPacket* p = writer.alloc_packet(0x6092, 0);
    Field::XelRspInfoField info;
    memset(&info, 0, sizeof info);
    strcpy(info.ErrorMsg, "OK");
    p->add_field(&Field::XelRspInfoField::DESC, &info, &Field::XelRspInfoField::to_stream);
    Field::XelUserapiInitAuthInfoField init = {25081835};
    p->add_field(&Field::XelUserapiInitAuthInfoField::DESC, &init,
                 &Field::XelUserapiInitAuthInfoField::to_stream);
    Field::XelUserapiSessionAuthInfoField session;
    memset(&session, 0, sizeof session);
    strcpy(session.EncryptUserApiInfo, "B0123456789ABCDEF");
    p->add_field(&Field::XelUserapiSessionAuthInfoField::DESC, &session,
                 &Field::XelUserapiSessionAuthInfoField::to_stream);
    writer.commit_packet(false);

    EXPECT_EQ(first_unit(flow), hex("02 00 01 A8 01 00"
                                    "04 4C 00 01 00 00 60 92"  // series 1, RspQryCryptInfo
                                    "00 00 00 01 00 03 01 92"  // sequence 1, three fields, 402
                                    "00 00 00 00"
                                    "00 03 00 55 00 00 00 00") +  // RspInfo, 85 bytes: ErrorID 0
                                    str("OK", 81) +
                                    hex("80 0A 00 04 01 7E B7 EB"  // InitEncryptInfo 25081835
                                        "80 17 01 2D") +           // session text, 301 bytes
                                    str("B0123456789ABCDEF", 301));
}

TEST(GoldenBytes, DepthSnapshotOnATopicFlow) {
    XeloFlow flow(1001, MIB, MIB, nullptr, nullptr, 41, nullptr, false, false);
    XeloFlow::Writer writer(&flow, false);
    XeloPacket* p = writer.alloc_packet(0x5803, 0);
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
    p->add_field(&Field::XelDepthMarketDataField::DESC, &d,
                 &Field::XelDepthMarketDataField::to_stream);
    writer.commit_packet(false);

    std::string want = hex("02 00 01 59 01 00"
                           "04 4C 03 E9 00 00 58 03"  // series 1001, RtnDepthMarketData
                           "00 00 00 2A 00 01 01 43"  // sequence 42 (flow starts at 41), 323
                           "00 00 00 00"
                           "24 08 01 3F") +  // XelDepthMarketDataField, 319 bytes
                       str("20250912", 9) +
                       str("SG01", 9) +
                       hex("00 00 00 01"
                           "40 AB 59 00 00 00 00 00");  // LastPrice 3500.5
    std::string null = hex("7F EF FF FF FF FF FF FF");
    for (int i = 0; i < 6; ++i) want += null;
    want +=
        hex("00 00 00 0C"                // Volume 12
            "40 C8 1C D6 C8 B4 39 58");  // Turnover 12345.678
    for (int i = 0; i < 6; ++i) want += null;
    want += hex("3F D0 00 00 00 00 00 00") +  // CurrDelta 0.25
            str("09:30:00", 9) + hex("00 00 01 F4") + str("XA2509", 31) +
            hex("40 AB 58 00 00 00 00 00 00 00 00 03"               // bid 3500 x 3
                "40 AB 5A 00 00 00 00 00 00 00 00 04");             // ask 3501 x 4
    for (int i = 0; i < 8; ++i) want += null + hex("00 00 00 00");  // levels 2 to 5
    EXPECT_EQ(first_unit(flow), want + str("20250912", 9));
}

TEST(GoldenBytes, HeartbeatControlFrame) {
    // A control unit carries only extensions: tag 5 with no value.
    Network::XmpPacket::Header header = {Network::XmpPacket::TYPE_CONTROL, 2, 0};
    char out[6];
    Network::XmpPacket::to_stream(&header, out);
    out[4] = 5;
    out[5] = 0;
    EXPECT_EQ(std::string(out, 6), hex("00 02 00 00 05 00"));
}

}  // namespace

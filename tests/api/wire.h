// A hand encoder for units and fields, written from the layout tables and
// independent of the library's coders, for the API tests and their fronts.
#ifndef XELMD_TESTS_API_WIRE_H
#define XELMD_TESTS_API_WIRE_H

#include <cstring>
#include <string>

#include "api/TarnXeloMduserApi.h"

namespace wire {

inline unsigned load_be32(const char* p) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    return unsigned(u[0]) << 24 | unsigned(u[1]) << 16 | unsigned(u[2]) << 8 | u[3];
}
// The low n bytes of v, most significant first.
inline std::string be(unsigned long long v, int n) {
    std::string s;
    while (n-- > 0) s += static_cast<char>(v >> (8 * n));
    return s;
}
inline std::string be32(int v) {
    return be(static_cast<unsigned>(v), 4);
}
inline std::string f64(double d) {
    unsigned long long bits;
    memcpy(&bits, &d, 8);
    return be(bits, 8);
}
// A string member travels with its full width, zero-padded.
inline std::string text(const char* t, size_t width) {
    std::string v(t, strnlen(t, width));
    v.resize(width, '\0');
    return v;
}
inline std::string field(unsigned id, const std::string& data) {
    return be(id, 2) + be(data.size(), 2) + data;
}

struct Head {
    unsigned tid;
    unsigned series;
    unsigned sequence_no;
    char chain;
    unsigned request_id;
};

// Transport header (type 2, ext), ext bytes, compression header (version 1,
// plain), the 20-byte packet header (version 4), the field area.
inline std::string unit(const Head& h, const std::string& fields, int ext = 0,
                        int field_count = -1) {
    return "\x02" + be(static_cast<unsigned>(ext), 1) + be(ext + 2 + 20 + fields.size(), 2) +
           std::string(static_cast<size_t>(ext), '\x7f') + std::string("\x01\x00\x04", 3) +
           h.chain + be(h.series, 2) + be(h.tid, 4) + be(h.sequence_no, 4) + '\0' +
           be(static_cast<unsigned>(field_count < 0 ? 1 : field_count), 1) + be(fields.size(), 2) +
           be(h.request_id, 4) + fields;
}

inline std::string rsp_info(int error, const char* msg) {
    return field(0x0003, be32(error) + text(msg, 81));
}
// A login response record: trading day, user, participant, data center.
inline std::string login_rsp(const char* day, const char* user, int data_center) {
    return field(0x000B, text(day, 9) + std::string(9 + 13, '\0') + text(user, 16) +
                             text("p1", 11) + std::string(61, '\0') + be32(data_center) +
                             std::string(8 + 9, '\0'));
}
inline std::string dissemination(int series, int no) {
    return field(0x0001, be(static_cast<unsigned>(series), 2) + be32(no));
}
inline std::string update_time(const char* instrument, const char* time, int ms, const char* day) {
    return field(0x2439, text(instrument, 31) + text(time, 9) + be32(ms) + text(day, 9));
}
inline std::string depth(const CTarnXeloDepthMarketDataField& r) {
    std::string s = text(r.TradingDay, 9) + text(r.SettlementGroupID, 9) + be32(r.SettlementID);
    for (double d : {r.LastPrice, r.PreSettlementPrice, r.PreClosePrice, r.PreOpenInterest,
                     r.OpenPrice, r.HighestPrice, r.LowestPrice})
        s += f64(d);
    s += be32(r.Volume);
    for (double d : {r.Turnover, r.OpenInterest, r.ClosePrice, r.SettlementPrice, r.UpperLimitPrice,
                     r.LowerLimitPrice, r.PreDelta, r.CurrDelta})
        s += f64(d);
    s += text(r.UpdateTime, 9) + be32(r.UpdateMillisec) + text(r.InstrumentID, 31);
    // Bid and ask of the five levels: price and volume, 16 bytes apart.
    for (const char* at = reinterpret_cast<const char*>(&r.BidPrice1);
         at <= reinterpret_cast<const char*>(&r.AskVolume5); at += 16) {
        double price;
        int volume;
        memcpy(&price, at, 8);
        memcpy(&volume, at + 8, 4);
        s += f64(price) + be32(volume);
    }
    return field(0x2408, s + text(r.ActionDay, 9));
}

}  // namespace wire

#endif  // XELMD_TESTS_API_WIRE_H

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
inline void be16(std::string& s, unsigned v) {
    s += static_cast<char>(v >> 8);
    s += static_cast<char>(v);
}
inline void be32(std::string& s, unsigned v) {
    be16(s, v >> 16);
    be16(s, v & 0xFFFF);
}
inline void f64(std::string& s, double d) {
    unsigned long long bits;
    memcpy(&bits, &d, 8);
    be32(s, static_cast<unsigned>(bits >> 32));
    be32(s, static_cast<unsigned>(bits));
}
// A string member travels with its full width, zero-padded.
inline void text(std::string& s, const char* t, size_t width) {
    std::string v(t, strnlen(t, width));
    v.resize(width, '\0');
    s += v;
}

inline std::string field(unsigned id, const std::string& data) {
    std::string s;
    be16(s, id);
    be16(s, static_cast<unsigned>(data.size()));
    return s + data;
}
inline std::string be32(unsigned v) {
    std::string s;
    be32(s, v);
    return s;
}
inline std::string text(const char* t, size_t width) {
    std::string s;
    text(s, t, width);
    return s;
}

struct Head {
    unsigned tid;
    unsigned series;
    unsigned sequence_no;
    char chain;
    unsigned request_id;
};

// Transport header (type 2, ext), ext bytes, compression header, the
// 20-byte packet header, the field area.
inline std::string unit(const Head& h, const std::string& fields, int ext = 0,
                        int field_count = -1) {
    std::string u;
    u += static_cast<char>(2);
    u += static_cast<char>(ext);
    be16(u, static_cast<unsigned>(ext + 2 + 20 + fields.size()));
    u += std::string(static_cast<size_t>(ext), '\x7f');
    u += static_cast<char>(1);
    u += static_cast<char>(0);
    u += static_cast<char>(4);
    u += h.chain;
    be16(u, h.series);
    be32(u, h.tid);
    be32(u, h.sequence_no);
    u += static_cast<char>(0);
    u += static_cast<char>(field_count < 0 ? 1 : field_count);
    be16(u, static_cast<unsigned>(fields.size()));
    be32(u, h.request_id);
    return u + fields;
}

inline std::string rsp_info(int error, const char* msg) {
    std::string s;
    be32(s, static_cast<unsigned>(error));
    text(s, msg, 81);
    return field(0x0003, s);
}
// A login response record: trading day, user, participant, data center.
inline std::string login_rsp(const char* day, const char* user, int data_center) {
    return field(0x000B, text(day, 9) + std::string(9 + 13, '\0') + text(user, 16) +
                             text("p1", 11) + std::string(61, '\0') +
                             be32(static_cast<unsigned>(data_center)) + be32(0) + be32(0) +
                             std::string(9, '\0'));
}
inline std::string dissemination(int series, int no) {
    std::string s;
    be16(s, static_cast<unsigned>(series) & 0xFFFF);
    be32(s, static_cast<unsigned>(no));
    return field(0x0001, s);
}
inline std::string update_time(const char* instrument, const char* time, int ms, const char* day) {
    std::string s;
    text(s, instrument, 31);
    text(s, time, 9);
    be32(s, static_cast<unsigned>(ms));
    text(s, day, 9);
    return field(0x2439, s);
}
inline std::string depth(const CTarnXeloDepthMarketDataField& r) {
    std::string s;
    text(s, r.TradingDay, 9);
    text(s, r.SettlementGroupID, 9);
    be32(s, static_cast<unsigned>(r.SettlementID));
    for (double d : {r.LastPrice, r.PreSettlementPrice, r.PreClosePrice, r.PreOpenInterest,
                     r.OpenPrice, r.HighestPrice, r.LowestPrice})
        f64(s, d);
    be32(s, static_cast<unsigned>(r.Volume));
    for (double d : {r.Turnover, r.OpenInterest, r.ClosePrice, r.SettlementPrice, r.UpperLimitPrice,
                     r.LowerLimitPrice, r.PreDelta, r.CurrDelta})
        f64(s, d);
    text(s, r.UpdateTime, 9);
    be32(s, static_cast<unsigned>(r.UpdateMillisec));
    text(s, r.InstrumentID, 31);
    const double* prices[] = {&r.BidPrice1, &r.AskPrice1, &r.BidPrice2, &r.AskPrice2, &r.BidPrice3,
                              &r.AskPrice3, &r.BidPrice4, &r.AskPrice4, &r.BidPrice5, &r.AskPrice5};
    const int* volumes[] = {&r.BidVolume1, &r.AskVolume1, &r.BidVolume2, &r.AskVolume2,
                            &r.BidVolume3, &r.AskVolume3, &r.BidVolume4, &r.AskVolume4,
                            &r.BidVolume5, &r.AskVolume5};
    for (int i = 0; i < 10; ++i) {
        f64(s, *prices[i]);
        be32(s, static_cast<unsigned>(*volumes[i]));
    }
    text(s, r.ActionDay, 9);
    return field(0x2408, s);
}

}  // namespace wire

#endif  // XELMD_TESTS_API_WIRE_H

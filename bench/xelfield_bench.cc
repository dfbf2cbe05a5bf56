// Depth-market-data record coders, ns per record: the generated unrolled
// coder against the generic descriptor coder and against a plain memcpy of
// the 368-byte record.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "field/xelfield.h"
#include "network/xmp_packet.h"

using namespace Field;

namespace {

XelDepthMarketDataField make_record() {
    XelDepthMarketDataField r;
    memset(&r, 0, sizeof r);
    strcpy(r.TradingDay, "20261205");
    strcpy(r.SettlementGroupID, "SG01");
    strcpy(r.InstrumentID, "cu2601");
    strcpy(r.UpdateTime, "10:15:32");
    strcpy(r.ActionDay, "20261205");
    r.SettlementID = 1;
    long long* prices[] = {
        &r.LastPrice,       &r.PreSettlementPrice, &r.PreClosePrice, &r.OpenPrice,
        &r.HighestPrice,    &r.LowestPrice,        &r.ClosePrice,    &r.SettlementPrice,
        &r.UpperLimitPrice, &r.LowerLimitPrice,    &r.BidPrice1,     &r.AskPrice1,
        &r.BidPrice2,       &r.AskPrice2,          &r.BidPrice3,     &r.AskPrice3,
        &r.BidPrice4,       &r.AskPrice4,          &r.BidPrice5,     &r.AskPrice5};
    for (size_t i = 0; i < sizeof prices / sizeof prices[0]; ++i) {
        *prices[i] = 72150000 + 10000 * static_cast<long long>(i);
    }
    r.ClosePrice = r.SettlementPrice = INT64_MAX;  // not yet known during the day
    r.PreOpenInterest = 183452000;
    r.OpenInterest = 184001000;
    r.Turnover = 9876543210123;
    r.PreDelta = r.CurrDelta = INT64_MAX;
    r.Volume = 45123;
    r.UpdateMillisec = 500;
    int* volumes[] = {&r.BidVolume1, &r.AskVolume1, &r.BidVolume2, &r.AskVolume2, &r.BidVolume3,
                      &r.AskVolume3, &r.BidVolume4, &r.AskVolume4, &r.BidVolume5, &r.AskVolume5};
    for (int i = 0; i < 10; ++i) *volumes[i] = 10 + 7 * i;
    return r;
}

const Base::FieldDesc* desc() {
    return &XelDepthMarketDataField::DESC;
}

void DepthEncode(benchmark::State& state) {
    XelDepthMarketDataField r = make_record();
    unsigned char wire[512];
    for (auto _ : state) {
        XelDepthMarketDataField::to_stream(&r, wire, sizeof r);
        benchmark::DoNotOptimize(wire);
        benchmark::ClobberMemory();
    }
}

void DepthEncode_baseline(benchmark::State& state) {
    XelDepthMarketDataField r = make_record();
    unsigned char wire[512];
    for (auto _ : state) {
        Network::XmpPacket::to_stream(desc(), &r, wire, sizeof r);
        benchmark::DoNotOptimize(wire);
        benchmark::ClobberMemory();
    }
    state.SetLabel("generic descriptor coder");
}

template <bool keep_double>
void DepthDecode(benchmark::State& state) {
    XelDepthMarketDataField r = make_record(), out;
    unsigned char wire[512];
    XelDepthMarketDataField::to_stream(&r, wire, sizeof r);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            XelDepthMarketDataField::from_stream(&out, wire, desc()->stream_size, keep_double));
        benchmark::ClobberMemory();
    }
}

template <bool keep_double>
void DepthDecode_baseline(benchmark::State& state) {
    XelDepthMarketDataField r = make_record(), out;
    unsigned char wire[512];
    XelDepthMarketDataField::to_stream(&r, wire, sizeof r);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            Network::XmpPacket::from_stream(desc(), &out, wire, desc()->stream_size, keep_double));
        benchmark::ClobberMemory();
    }
    state.SetLabel("generic descriptor coder");
}

// The floor: moving the record's bytes without any conversion.
void DepthCopy_baseline(benchmark::State& state) {
    XelDepthMarketDataField r = make_record(), out;
    XelDepthMarketDataField* src = &r;
    XelDepthMarketDataField* dst = &out;
    for (auto _ : state) {
        // Opaque pointers: the copy must be redone every iteration.
        benchmark::DoNotOptimize(src);
        benchmark::DoNotOptimize(dst);
        memcpy(dst, src, sizeof r);
        benchmark::ClobberMemory();
    }
    state.SetLabel("memcpy 368 bytes");
}

void DepthCopy(benchmark::State& state) {
    if (state.range(0) == 0) {
        DepthEncode(state);
    } else {
        DepthDecode<true>(state);
    }
}

void DepthCopy_baseline_arg(benchmark::State& state) {
    DepthCopy_baseline(state);
}

}  // namespace

BENCHMARK(DepthEncode);
BENCHMARK(DepthEncode_baseline);
BENCHMARK_TEMPLATE(DepthDecode, true)->Name("DepthDecodeKeepDouble");
BENCHMARK_TEMPLATE(DepthDecode_baseline, true)->Name("DepthDecodeKeepDouble_baseline");
BENCHMARK_TEMPLATE(DepthDecode, false)->Name("DepthDecodeFixed");
BENCHMARK_TEMPLATE(DepthDecode_baseline, false)->Name("DepthDecodeFixed_baseline");
// Against memcpy: arg 0 encodes, arg 1 decodes with keep_double.
BENCHMARK(DepthCopy)->Name("DepthVsMemcpy")->Arg(0)->Arg(1);
BENCHMARK(DepthCopy_baseline_arg)->Name("DepthVsMemcpy_baseline")->Arg(0)->Arg(1);

BENCHMARK_MAIN();

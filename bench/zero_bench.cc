// Zero-run compression, MB/s of uncompressed bytes, against memcpy of the
// same bytes. Arg 0: one depth-market-data packet as the front sends it;
// arg 1: 1 MiB of mixed data (zero runs, text, binary numbers, escapes).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "field/xelfield.h"
#include "network/crp_packet.h"
#include "network/xelo_packet.h"

using namespace Field;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes depth_packet() {
    XelDepthMarketDataField r;
    memset(&r, 0, sizeof r);
    strcpy(r.TradingDay, "20261205");
    strcpy(r.SettlementGroupID, "SG01");
    strcpy(r.InstrumentID, "cu2601");
    strcpy(r.UpdateTime, "10:15:32");
    strcpy(r.ActionDay, "20261205");
    r.LastPrice = 72150000;
    r.PreSettlementPrice = 71980000;
    r.PreClosePrice = 72000000;
    r.OpenPrice = 72010000;
    r.HighestPrice = 72300000;
    r.LowestPrice = 71900000;
    r.ClosePrice = r.SettlementPrice = r.PreDelta = r.CurrDelta = INT64_MAX;
    r.UpperLimitPrice = 77000000;
    r.LowerLimitPrice = 67000000;
    r.Volume = 45123;
    r.Turnover = 9876543210123;
    r.OpenInterest = 184001000;
    r.PreOpenInterest = 183452000;
    r.BidPrice1 = 72140000;
    r.AskPrice1 = 72150000;
    r.BidVolume1 = 12;
    r.AskVolume1 = 7;
    Bytes unit(Network::XeloPacket::MAX_PACKAGE_SIZE);
    Network::XeloPacket packet(0x5803, 0, 'L');
    packet.attach(unit.data() + 6);
    packet.header.sequence_series = 1;
    packet.set_sequence(123456);
    packet.add_field(&XelDepthMarketDataField::DESC, &r, XelDepthMarketDataField::to_stream);
    unit.resize(static_cast<size_t>(packet.commit()) + 6);
    return Bytes(unit.begin() + 6, unit.end());
}

Bytes mixed_data() {
    std::mt19937 rng(5);
    Bytes data;
    data.reserve(1 << 20);
    while (data.size() < (1u << 20)) {
        unsigned kind = rng() % 4, n = 1 + rng() % 40;
        for (unsigned i = 0; i < n; ++i) {
            switch (kind) {
                case 0:
                    data.push_back(0);
                    break;
                case 1:
                    data.push_back(static_cast<unsigned char>('0' + rng() % 75));
                    break;
                case 2:
                    data.push_back(static_cast<unsigned char>(rng()));
                    break;
                default:
                    data.push_back(i % 8 < 5 ? 0 : static_cast<unsigned char>(rng()));
                    break;
            }
        }
    }
    data.resize(1 << 20);
    return data;
}

const Bytes& input(int which) {
    static const Bytes packet = depth_packet();
    static const Bytes mixed = mixed_data();
    return which == 0 ? packet : mixed;
}

void ZeroEncode(benchmark::State& state) {
    const Bytes& in = input(static_cast<int>(state.range(0)));
    Bytes out(in.size() * 2 + 16);
    int n = 0;
    for (auto _ : state) {
        n = static_cast<int>(out.size());
        Network::CrpPacket::encode_zero(out.data(), n, in.data(), static_cast<int>(in.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
    state.counters["ratio%"] = 100.0 * n / static_cast<double>(in.size());
}

void ZeroDecode(benchmark::State& state) {
    const Bytes& in = input(static_cast<int>(state.range(0)));
    Bytes packed(in.size() * 2 + 16);
    int packed_length = static_cast<int>(packed.size());
    Network::CrpPacket::encode_zero(packed.data(), packed_length, in.data(),
                                    static_cast<int>(in.size()));
    Bytes out(in.size());
    for (auto _ : state) {
        int n = static_cast<int>(out.size());
        Network::CrpPacket::decode_zero(out.data(), n, packed.data(), packed_length);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void copy_bytes(benchmark::State& state) {
    const Bytes& in = input(static_cast<int>(state.range(0)));
    Bytes out(in.size());
    for (auto _ : state) {
        memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
    state.SetLabel("memcpy");
}

void ZeroEncode_baseline(benchmark::State& state) {
    copy_bytes(state);
}
void ZeroDecode_baseline(benchmark::State& state) {
    copy_bytes(state);
}

}  // namespace

BENCHMARK(ZeroEncode)->Arg(0)->Arg(1);
BENCHMARK(ZeroEncode_baseline)->Arg(0)->Arg(1);
BENCHMARK(ZeroDecode)->Arg(0)->Arg(1);
BENCHMARK(ZeroDecode_baseline)->Arg(0)->Arg(1);

BENCHMARK_MAIN();

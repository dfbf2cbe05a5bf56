// The dispatcher's cost per market-data packet into a cache of 10,000
// instruments: full snapshots and incremental packets (update time, last
// match, best price), each beside the generated decoders alone on the same
// fields, measured in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/md_api.h"
#include "field/xelfield.h"
#include "network/xelo_flow.h"

// The public callback class has no virtual destructor (its slot layout is
// fixed); the callback classes here are never deleted through it.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

using namespace Field;

namespace {

const int INSTRUMENTS = 10000;

class CountingSpi final : public CTarnXeloMduserSpi {
  public:
    unsigned long depths = 0;
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField*) override { ++depths; }
};

// Builds one packet behind a flow unit's prefix.
class UnitBuilder {
  public:
    UnitBuilder(unsigned short tid, unsigned short series) : packet_(tid, 0, 'L') {
        packet_.attach(buffer_ + Network::XeloPacket::UNIT_PREFIX_SIZE);
        packet_.header.tid = tid;
        packet_.header.sequence_series = series;
        packet_.header.sequence_no = 1;
    }
    template <typename Record>
    void add(const Record& r) {
        packet_.add_field(&Record::DESC, &r, &Record::to_stream);
    }
    std::string finish() {
        int length = packet_.commit();
        Network::XeloFlow::write_prefix(buffer_, static_cast<unsigned>(length));
        return std::string(buffer_,
                           static_cast<size_t>(Network::XeloPacket::UNIT_PREFIX_SIZE + length));
    }

  private:
    char buffer_[Network::XeloPacket::UNIT_PREFIX_SIZE + Network::XeloPacket::MAX_PACKAGE_SIZE];
    Network::XeloPacket packet_;
};

void instrument_id(char* out, int i) {
    snprintf(out, 31, "in%05d", i);
}

XelDepthMarketDataField make_depth(int i) {
    XelDepthMarketDataField r;
    memset(&r, 0, sizeof r);
    strcpy(r.TradingDay, "20250912");
    strcpy(r.SettlementGroupID, "SG01");
    instrument_id(r.InstrumentID, i);
    strcpy(r.UpdateTime, "09:30:00");
    strcpy(r.ActionDay, "20250912");
    long long* prices[] = {&r.LastPrice, &r.OpenPrice, &r.HighestPrice, &r.LowestPrice,
                           &r.BidPrice1, &r.AskPrice1, &r.BidPrice2,    &r.AskPrice2,
                           &r.BidPrice3, &r.AskPrice3, &r.BidPrice4,    &r.AskPrice4,
                           &r.BidPrice5, &r.AskPrice5, &r.PreClosePrice};
    for (size_t k = 0; k < sizeof prices / sizeof prices[0]; ++k)
        *prices[k] = 72150000 + 10000 * static_cast<long long>(k + i);
    r.Volume = 45123 + i;
    return r;
}

struct Stream {
    std::vector<std::string> snapshots;
    std::vector<std::string> increments;
    Stream() {
        for (int i = 0; i < INSTRUMENTS; ++i) {
            UnitBuilder full(0x5803, 3);
            full.add(make_depth(i));
            snapshots.push_back(full.finish());

            XelMarketDataUpdateTimeField time = {};
            instrument_id(time.InstrumentID, i);
            strcpy(time.UpdateTime, "09:30:01");
            strcpy(time.ActionDay, "20250912");
            XelMarketDataLastMatchField last = {72160000 + i, 45200, 987654321000, 183000000};
            XelMarketDataBestPriceField best = {72150000 + i, 5, 72170000 + i, 7};
            UnitBuilder inc(0x5902, 3);
            inc.add(time);
            inc.add(last);
            inc.add(best);
            increments.push_back(inc.finish());
        }
    }
};

const Stream& stream() {
    static const Stream s;
    return s;
}

// An API with every instrument already cached.
struct Loaded {
    Api::MdApi api{"", nullptr};
    CountingSpi spi;
    Loaded() {
        api.RegisterSpi(&spi);
        api.create_market_data_cache();
        for (const std::string& u : stream().snapshots)
            api.on_write(0, u.data(), static_cast<unsigned short>(u.size()));
    }
    ~Loaded() { api.destroy_market_data_cache(); }
};

void feed(benchmark::State& state, const std::vector<std::string>& units) {
    Loaded loaded;
    size_t i = 0;
    for (auto _ : state) {
        const std::string& u = units[i];
        loaded.api.on_write(0, u.data(), static_cast<unsigned short>(u.size()));
        if (++i == units.size()) i = 0;
    }
    benchmark::DoNotOptimize(loaded.spi.depths);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void DispatchSnapshot(benchmark::State& state) {
    feed(state, stream().snapshots);
}

void DispatchIncrement(benchmark::State& state) {
    feed(state, stream().increments);
}

// The generated decoders alone over the same fields: the floor under the
// dispatcher (which adds parsing, the cache and the callback).
void decode_only(benchmark::State& state, const std::vector<std::string>& units) {
    alignas(8) char out[4096];
    size_t i = 0;
    for (auto _ : state) {
        const std::string& u = units[i];
        Network::XeloPacket::Header h;
        const char* packet = u.data() + Network::XeloPacket::UNIT_PREFIX_SIZE;
        Network::XeloPacket::from_stream(&h, packet, static_cast<int>(u.size()) - 6);
        Network::XeloPacket::Iterator it(&h, packet + Network::XeloPacket::HEADER_SIZE);
        for (int id; (id = it.next()) >= 0;) {
            switch (id) {
                case 0x2408:
                    it.get_field(out, &XelDepthMarketDataField::from_stream, true);
                    break;
                case 0x2433:
                    it.get_field(out, &XelMarketDataLastMatchField::from_stream, true);
                    break;
                case 0x2434:
                    it.get_field(out, &XelMarketDataBestPriceField::from_stream, true);
                    break;
                case 0x2439:
                    it.get_field(out, &XelMarketDataUpdateTimeField::from_stream, true);
                    break;
                default:
                    break;
            }
        }
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
        if (++i == units.size()) i = 0;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void DispatchSnapshot_baseline(benchmark::State& state) {
    decode_only(state, stream().snapshots);
    state.SetLabel("generated decoder alone");
}

void DispatchIncrement_baseline(benchmark::State& state) {
    decode_only(state, stream().increments);
    state.SetLabel("generated decoders alone");
}

// For instruction counts (bench/footprint/run.py runs these under callgrind
// with --toggle-collect on them): a fixed number of packets into a loaded
// cache, and the decoders alone over the same packets.
__attribute__((noinline)) void count_dispatch(Loaded& loaded, const std::vector<std::string>& units,
                                              int n) {
    for (int i = 0; i < n; ++i) {
        const std::string& u = units[static_cast<size_t>(i) % units.size()];
        loaded.api.on_write(0, u.data(), static_cast<unsigned short>(u.size()));
    }
}

__attribute__((noinline)) void count_decode(const std::vector<std::string>& units, int n) {
    alignas(8) static char out[4096];
    for (int i = 0; i < n; ++i) {
        const std::string& u = units[static_cast<size_t>(i) % units.size()];
        Network::XeloPacket::Header h;
        const char* packet = u.data() + Network::XeloPacket::UNIT_PREFIX_SIZE;
        Network::XeloPacket::from_stream(&h, packet, static_cast<int>(u.size()) - 6);
        Network::XeloPacket::Iterator it(&h, packet + Network::XeloPacket::HEADER_SIZE);
        for (int id; (id = it.next()) >= 0;) {
            if (id == 0x2408) it.get_field(out, &XelDepthMarketDataField::from_stream, true);
            if (id == 0x2433) it.get_field(out, &XelMarketDataLastMatchField::from_stream, true);
            if (id == 0x2434) it.get_field(out, &XelMarketDataBestPriceField::from_stream, true);
            if (id == 0x2439) it.get_field(out, &XelMarketDataUpdateTimeField::from_stream, true);
        }
        benchmark::DoNotOptimize(out);
    }
}

// bench_dispatch --count snapshot|increment N
int count_main(const std::string& kind, int n) {
    const std::vector<std::string>& units =
        kind == "snapshot" ? stream().snapshots : stream().increments;
    Loaded loaded;
    count_dispatch(loaded, units, n);
    count_decode(units, n);
    printf("{\"kind\": \"%s\", \"packets\": %d, \"depths\": %lu}\n", kind.c_str(), n,
           loaded.spi.depths);
    return 0;
}

}  // namespace

BENCHMARK(DispatchSnapshot);
BENCHMARK(DispatchSnapshot_baseline);
BENCHMARK(DispatchIncrement);
BENCHMARK(DispatchIncrement_baseline);

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--count") return count_main(argv[2], atoi(argv[3]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Hash::calc against a plain loop of 8-byte crc32 instructions: throughput
// on 4 KiB and time per 36-byte key (the market-data cache's key shape).
#include <benchmark/benchmark.h>
#include <nmmintrin.h>
#include <string.h>

#include <vector>

#include "base/hash.h"

namespace {

// The baseline: 8 bytes per step, then the tail a byte at a time.
unsigned int plain_crc(const unsigned char* p, int n, unsigned int seed) {
    unsigned long long c = seed;
    for (; n >= 8; n -= 8, p += 8) {
        unsigned long long w;
        memcpy(&w, p, 8);
        c = _mm_crc32_u64(c, w);
    }
    unsigned int r = static_cast<unsigned int>(c);
    for (; n > 0; --n, ++p) r = _mm_crc32_u8(r, *p);
    return r;
}

void BM_HashCalc(benchmark::State& state) {
    const int len = static_cast<int>(state.range(0));
    std::vector<unsigned char> in(len, 0x5a);
    unsigned int h = 0;
    for (auto _ : state) {
        h = Base::Hash::calc(in.data(), len, h);
        benchmark::DoNotOptimize(h);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
}

void BM_HashCalc_baseline(benchmark::State& state) {
    const int len = static_cast<int>(state.range(0));
    std::vector<unsigned char> in(len, 0x5a);
    unsigned int h = 0;
    for (auto _ : state) {
        h = plain_crc(in.data(), len, h);
        benchmark::DoNotOptimize(h);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
    state.SetLabel("plain _mm_crc32_u64 loop");
}

// 1024 different 36-byte keys hashed in turn; one item per key.
constexpr int kKeys = 1024;
constexpr int kKeyLen = 36;

std::vector<unsigned char> make_keys() {
    std::vector<unsigned char> keys(kKeys * kKeyLen);
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = static_cast<unsigned char>(i * 131 + 7);
    return keys;
}

void BM_HashKey36(benchmark::State& state) {
    std::vector<unsigned char> keys = make_keys();
    for (auto _ : state) {
        unsigned int sum = 0;
        for (int k = 0; k < kKeys; ++k) sum += Base::Hash::calc(&keys[k * kKeyLen], kKeyLen, 0);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kKeys);
}

void BM_HashKey36_baseline(benchmark::State& state) {
    std::vector<unsigned char> keys = make_keys();
    for (auto _ : state) {
        unsigned int sum = 0;
        for (int k = 0; k < kKeys; ++k) sum += plain_crc(&keys[k * kKeyLen], kKeyLen, 0);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kKeys);
    state.SetLabel("plain _mm_crc32_u64 loop");
}

}  // namespace

BENCHMARK(BM_HashCalc)->Arg(4096);
BENCHMARK(BM_HashCalc_baseline)->Arg(4096);
BENCHMARK(BM_HashKey36);
BENCHMARK(BM_HashKey36_baseline);

BENCHMARK_MAIN();

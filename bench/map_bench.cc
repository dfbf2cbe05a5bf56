// Base::Map against std::unordered_map with the same hash and equality, on
// the market-data cache's key shape (32-bit topic + 32-byte instrument
// field): searches in random order and inserts of every key into an empty
// map, at 10^4 and 10^6 entries.
#include <benchmark/benchmark.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <unordered_map>
#include <vector>

#include "base/hash.h"
#include "base/map.h"

namespace {

struct Key {
    unsigned int topic;
    char instrument[32];
};

unsigned int hash_key(const void* k) {
    const Key* key = static_cast<const Key*>(k);
    unsigned int h = Base::Hash::calc(&key->topic, 4, 0);
    return Base::Hash::calc(key->instrument, static_cast<int>(strlen(key->instrument)), h);
}

bool equal_key(const void* a, const void* b) {
    const Key* x = static_cast<const Key*>(a);
    const Key* y = static_cast<const Key*>(b);
    return x->topic == y->topic && strcmp(x->instrument, y->instrument) == 0;
}

struct StdHash {
    size_t operator()(const Key& k) const { return hash_key(&k); }
};
struct StdEqual {
    bool operator()(const Key& a, const Key& b) const { return equal_key(&a, &b); }
};
typedef std::unordered_map<Key, long, StdHash, StdEqual> StdMap;

std::vector<Key> make_keys(long n) {
    std::vector<Key> keys(n);
    for (long i = 0; i < n; ++i) {
        memset(&keys[i], 0, sizeof(Key));
        keys[i].topic = static_cast<unsigned int>(i % 7);
        snprintf(keys[i].instrument, sizeof(keys[i].instrument), "INSTR%09ld", i * 2654435761L);
    }
    return keys;
}

// Lookups in a shuffled order so the cache does not follow insertion order.
std::vector<Key> shuffled(const std::vector<Key>& keys) {
    std::vector<Key> order(keys);
    std::shuffle(order.begin(), order.end(), std::mt19937(1));
    return order;
}

void BM_MapSearch(benchmark::State& state) {
    const long n = state.range(0);
    std::vector<Key> keys = make_keys(n);
    Base::Map map(hash_key, equal_key, static_cast<unsigned int>(n), sizeof(Key), 8, 4096, 0,
                  nullptr);
    for (long i = 0; i < n; ++i) map.insert(&keys[i], &i);
    std::vector<Key> order = shuffled(keys);
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.search(&order[k]));
        if (++k == order.size()) k = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_MapSearch_baseline(benchmark::State& state) {
    const long n = state.range(0);
    std::vector<Key> keys = make_keys(n);
    StdMap map;
    map.reserve(n);
    for (long i = 0; i < n; ++i) map.emplace(keys[i], i);
    std::vector<Key> order = shuffled(keys);
    size_t k = 0;
    for (auto _ : state) {
        auto it = map.find(order[k]);
        benchmark::DoNotOptimize(it);
        if (++k == order.size()) k = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("std::unordered_map");
}

// One iteration inserts every key into a fresh map (made and destroyed
// outside the timing); items are insertions.
void BM_MapInsert(benchmark::State& state) {
    const long n = state.range(0);
    std::vector<Key> keys = make_keys(n);
    for (auto _ : state) {
        state.PauseTiming();
        Base::Map* map = new Base::Map(hash_key, equal_key, static_cast<unsigned int>(n),
                                       sizeof(Key), 8, 4096, 0, nullptr);
        state.ResumeTiming();
        for (long i = 0; i < n; ++i) map->insert(&keys[i], &i);
        state.PauseTiming();
        delete map;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_MapInsert_baseline(benchmark::State& state) {
    const long n = state.range(0);
    std::vector<Key> keys = make_keys(n);
    for (auto _ : state) {
        state.PauseTiming();
        StdMap* map = new StdMap();
        map->reserve(n);
        state.ResumeTiming();
        for (long i = 0; i < n; ++i) map->emplace(keys[i], i);
        state.PauseTiming();
        delete map;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.SetLabel("std::unordered_map");
}

}  // namespace

BENCHMARK(BM_MapSearch)->Arg(10000)->Arg(1000000);
BENCHMARK(BM_MapSearch_baseline)->Arg(10000)->Arg(1000000);
BENCHMARK(BM_MapInsert)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapInsert_baseline)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

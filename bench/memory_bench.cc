// Memory::alloc of small sizes against malloc. One iteration takes 1024
// blocks of the given size and gives them all back (Memory::clear, or free
// for each malloc), so both sides run in steady state; items are
// allocations.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include "base/memory.h"

namespace {

constexpr int kBatch = 1024;

void BM_MemoryAlloc(benchmark::State& state) {
    const unsigned long size = state.range(0);
    Base::Memory memory(1 << 20, 1 << 20);
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(memory.alloc(size));
        memory.clear();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_MemoryAlloc_baseline(benchmark::State& state) {
    const unsigned long size = state.range(0);
    void* ptrs[kBatch];
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            ptrs[i] = malloc(size);
            benchmark::DoNotOptimize(ptrs[i]);
        }
        for (int i = 0; i < kBatch; ++i) free(ptrs[i]);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.SetLabel("malloc + free");
}

}  // namespace

BENCHMARK(BM_MemoryAlloc)->Arg(16)->Arg(64)->Arg(256);
BENCHMARK(BM_MemoryAlloc_baseline)->Arg(16)->Arg(64)->Arg(256);

BENCHMARK_MAIN();

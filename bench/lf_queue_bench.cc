// LFQueue against a std::mutex + std::deque queue: one iteration moves
// kBatch elements from 1 or 2 producer threads to the consumer (the
// benchmark thread); items are elements delivered.
#include <benchmark/benchmark.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "base/lf_queue.h"

namespace {

constexpr long kBatch = 100000;

class MutexQueue {
  public:
    void push(void* p) {
        std::lock_guard<std::mutex> g(mutex_);
        items_.push_back(p);
    }
    void* pop() {
        std::lock_guard<std::mutex> g(mutex_);
        if (items_.empty()) return nullptr;
        void* p = items_.front();
        items_.pop_front();
        return p;
    }

  private:
    std::mutex mutex_;
    std::deque<void*> items_;
};

// Producer threads live for the whole benchmark and push one batch per
// round; the benchmark thread consumes each round completely.
template <class Q>
void transfer(benchmark::State& state, Q& queue) {
    const long producers = state.range(0);
    const long per_producer = kBatch / producers;
    std::atomic<long> round{0};
    std::atomic<long> finished{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (long p = 0; p < producers; ++p) {
        threads.emplace_back([&] {
            long seen = 0;
            for (;;) {
                while (round.load() == seen && !stop.load()) std::this_thread::yield();
                if (stop.load()) return;
                seen = round.load();
                for (long i = 1; i <= per_producer; ++i) queue.push(reinterpret_cast<void*>(i));
                finished.fetch_add(1);
            }
        });
    }
    for (auto _ : state) {
        finished.store(0);
        round.fetch_add(1);
        long received = 0;
        while (received < per_producer * producers) {
            if (queue.pop()) ++received;
        }
        while (finished.load() < producers) std::this_thread::yield();
    }
    stop.store(true);
    for (auto& t : threads) t.join();
    state.SetItemsProcessed(state.iterations() * per_producer * producers);
}

void BM_LFQueueTransfer(benchmark::State& state) {
    Base::LFQueue queue(1024);
    transfer(state, queue);
}

void BM_LFQueueTransfer_baseline(benchmark::State& state) {
    MutexQueue queue;
    transfer(state, queue);
    state.SetLabel("std::mutex + std::deque");
}

}  // namespace

BENCHMARK(BM_LFQueueTransfer)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LFQueueTransfer_baseline)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// Flow throughput: appending protocol packets, a reader following a writer
// on another thread, and saving/loading flow files; each beside a baseline
// doing the same byte movement with plain standard tools.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/data_flow_file.h"
#include "base/data_flow_iterator.h"
#include "base/notify.h"
#include "base/sign.h"
#include "network/xelo_flow.h"
#include "network/xelo_flow_reader.h"

namespace {

using Network::XeloFlow;
using Network::XeloPacket;

constexpr unsigned int MIB = 1048576;
constexpr int PACKET = 350;  // protocol packet bytes (header included)
constexpr int UNIT = PACKET + XeloPacket::UNIT_PREFIX_SIZE;

std::string wire_packet() {
    char buffer[XeloPacket::HEADER_SIZE + XeloPacket::MAX_BODY_SIZE];
    XeloPacket p(0x3001, 0, XeloPacket::CHAIN_LAST);
    p.attach(buffer);
    char* data = static_cast<char*>(p.add_field(1, PACKET - XeloPacket::HEADER_SIZE - 4));
    for (int i = 0; i < PACKET - 24; ++i) data[i] = static_cast<char>(i * 7);
    return std::string(buffer, p.commit());
}

// Append and commit through the writer; blocks are recycled every 4096
// packets so the store stays in a few warm megabytes, as a followed flow does.
void BM_XeloWriterAppend(benchmark::State& state) {
    std::string packet = wire_packet();
    XeloFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    XeloFlow::Writer writer(&flow, false);
    const XeloPacket::Header* header = reinterpret_cast<const XeloPacket::Header*>(packet.data());
    unsigned long n = 0;
    for (auto _ : state) {
        writer.add_packet(header, false);
        if ((++n & 4095) == 0) flow.recycle(flow.get_count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * UNIT);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_XeloWriterAppend);

// The same bytes copied into a preallocated ring of the same working size.
void BM_XeloWriterAppend_baseline(benchmark::State& state) {
    std::string packet = wire_packet();
    const size_t ring = 4 * MIB;
    std::vector<char> buffer(ring + UNIT);
    char prefix[XeloPacket::UNIT_PREFIX_SIZE];
    XeloFlow::write_prefix(prefix, PACKET);
    size_t at = 0;
    for (auto _ : state) {
        memcpy(&buffer[at], prefix, XeloPacket::UNIT_PREFIX_SIZE);
        memcpy(&buffer[at] + XeloPacket::UNIT_PREFIX_SIZE, packet.data(), PACKET);
        benchmark::DoNotOptimize(buffer.data());
        at += UNIT;
        if (at >= ring) at = 0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * UNIT);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetLabel("memcpy");
}
BENCHMARK(BM_XeloWriterAppend_baseline);

long now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class Wakeup : public Base::NotifyGroup {
  public:
    void wakeup(bool) override { sign.set(); }
    void notify(Base::List*) override {}
    Base::Sign sign{0};
};

constexpr int BATCH = 20000;

double median(std::vector<long>& v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return static_cast<double>(v[v.size() / 2]);
}

// A writer appends BATCH packets (stamped with the time of commit) while a
// reader thread, woken through its notify, follows; the wake-up latency is
// the time from commit to the reader holding a packet it had waited for.
void BM_FlowFollow(benchmark::State& state) {
    std::string packet = wire_packet();
    std::vector<long> latencies;
    for (auto _ : state) {
        XeloFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
        XeloFlow::Writer writer(&flow, false);
        Wakeup group;
        XeloFlow::Reader reader(&flow, &group, nullptr, nullptr);
        std::thread t([&] {
            bool waited = false;
            for (int got = 0; got < BATCH;) {
                const XeloFlow::View* v = reader.read();
                if (v == nullptr) {
                    group.sign.timed_wait(100, true);
                    waited = true;
                    continue;
                }
                if (waited) {
                    long sent;
                    memcpy(&sent, v->fields + 4, sizeof sent);
                    latencies.push_back(now_ns() - sent);
                    waited = false;
                }
                ++got;
            }
        });
        const XeloPacket::Header* h = reinterpret_cast<const XeloPacket::Header*>(packet.data());
        for (int i = 0; i < BATCH; ++i) {
            long t0 = now_ns();
            memcpy(&packet[XeloPacket::HEADER_SIZE + 4], &t0, sizeof t0);
            writer.add_packet(h, true);
            if ((i & 63) == 0) std::this_thread::yield();
        }
        t.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * BATCH * UNIT);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * BATCH);
    state.counters["wake_median_ns"] = median(latencies);
}
BENCHMARK(BM_FlowFollow)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same hand-over through a mutex, a condition variable and a queue of
// copies.
void BM_FlowFollow_baseline(benchmark::State& state) {
    std::string packet = wire_packet();
    std::vector<long> latencies;
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable cv;
        std::deque<std::string> queue;
        std::thread t([&] {
            for (int got = 0; got < BATCH;) {
                std::unique_lock<std::mutex> lock(mutex);
                bool waited = false;
                while (queue.empty()) {
                    cv.wait(lock);
                    waited = true;
                }
                std::string p = std::move(queue.front());
                queue.pop_front();
                lock.unlock();
                if (waited) {
                    long sent;
                    memcpy(&sent, p.data() + XeloPacket::HEADER_SIZE + 4, sizeof sent);
                    latencies.push_back(now_ns() - sent);
                }
                ++got;
            }
        });
        for (int i = 0; i < BATCH; ++i) {
            long t0 = now_ns();
            memcpy(&packet[XeloPacket::HEADER_SIZE + 4], &t0, sizeof t0);
            {
                std::lock_guard<std::mutex> lock(mutex);
                queue.push_back(packet);
            }
            cv.notify_one();
            if ((i & 63) == 0) std::this_thread::yield();
        }
        t.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * BATCH * UNIT);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * BATCH);
    state.counters["wake_median_ns"] = median(latencies);
    state.SetLabel("mutex+condvar queue");
}
BENCHMARK(BM_FlowFollow_baseline)->Unit(benchmark::kMillisecond)->UseRealTime();

constexpr int FILE_OBJECTS = 50000;

struct TempDir {
    TempDir() {
        char tmpl[] = "/tmp/flowbenchXXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::string cmd = "rm -rf " + path;
        if (system(cmd.c_str()) != 0) perror("rm");
    }
    std::string path;
};

void fill_flow(Base::DataFlow& flow) {
    std::string object(PACKET, 'x');
    for (int i = 0; i < FILE_OBJECTS; ++i) {
        void* p = flow.alloc_object(PACKET);
        memcpy(p, object.data(), PACKET);
        flow.commit_object(PACKET, false);
    }
}

const int64_t FILE_BYTES = static_cast<int64_t>(FILE_OBJECTS) * (PACKET + 4);

void BM_FlowSave(benchmark::State& state) {
    TempDir dir;
    Base::DataFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    fill_flow(flow);
    for (auto _ : state) {
        Base::DataFlow::Saver saver(&flow, dir.path.c_str(), nullptr, false, nullptr, 0, nullptr);
        while (saver.invoke() > 0) {
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FILE_BYTES);
}
BENCHMARK(BM_FlowSave)->Unit(benchmark::kMillisecond);

// fwrite of the same records, flushed after each as the saver does.
void BM_FlowSave_baseline(benchmark::State& state) {
    TempDir dir;
    std::string record(PACKET + 4, 'x');
    std::string path = dir.path + "/plain";
    for (auto _ : state) {
        FILE* f = fopen(path.c_str(), "wb");
        fwrite("\0\0", 1, 2, f);
        for (int i = 0; i < FILE_OBJECTS; ++i) {
            fwrite(record.data(), 1, record.size(), f);
            fflush(f);
        }
        fclose(f);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FILE_BYTES);
    state.SetLabel("fwrite");
}
BENCHMARK(BM_FlowSave_baseline)->Unit(benchmark::kMillisecond);

void BM_FlowLoad(benchmark::State& state) {
    TempDir dir;
    {
        Base::DataFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
        fill_flow(flow);
        Base::DataFlow::Saver saver(&flow, dir.path.c_str(), nullptr, false, nullptr, 0, nullptr);
    }
    // The flow is cleared between loads and keeps its blocks, as the
    // baseline's buffer is allocated once.
    Base::DataFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    for (auto _ : state) {
        flow.clear(0);
        Base::DataFlow::Loader loader(&flow, dir.path.c_str(), nullptr, 0, nullptr);
        while (loader.invoke() > 0) {
        }
        if (flow.get_count() != FILE_OBJECTS) state.SkipWithError("short load");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FILE_BYTES);
}
BENCHMARK(BM_FlowLoad)->Unit(benchmark::kMillisecond);

// fread of the same records into one buffer each.
void BM_FlowLoad_baseline(benchmark::State& state) {
    TempDir dir;
    std::string path = dir.path + "/plain";
    {
        std::string record(PACKET + 4, 'x');
        FILE* f = fopen(path.c_str(), "wb");
        fwrite("\0\0", 1, 2, f);
        for (int i = 0; i < FILE_OBJECTS; ++i) fwrite(record.data(), 1, record.size(), f);
        fclose(f);
    }
    std::vector<char> buffer(static_cast<size_t>(FILE_BYTES));
    for (auto _ : state) {
        FILE* f = fopen(path.c_str(), "rb");
        char version[2];
        size_t n = fread(version, 1, 2, f);
        for (int i = 0; i < FILE_OBJECTS; ++i) {
            n += fread(&buffer[static_cast<size_t>(i) * (PACKET + 4)], 1, 4, f);
            n += fread(&buffer[static_cast<size_t>(i) * (PACKET + 4) + 4], 1, PACKET, f);
        }
        fclose(f);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FILE_BYTES);
    state.SetLabel("fread");
}
BENCHMARK(BM_FlowLoad_baseline)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

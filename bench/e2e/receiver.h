#ifndef XELMD_BENCH_E2E_RECEIVER_H
#define XELMD_BENCH_E2E_RECEIVER_H

// The receiving application of the end-to-end benchmark, written against the
// public header alone: it logs in, counts OnRtnDepthMarketData and, when the
// sender stamps its frames, keeps each update's wire-to-callback latency.
#include <TarnXeloMduserApi.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/e2e/frame_batch.h"

namespace E2e {

struct ReceiverOptions {
    std::string front;  // tcp://127.0.0.1:PORT
    std::string flow_path = "/tmp";
    std::string samples;  // where the latency samples go (one per line, ns); empty: none
    bool latency = false;
    double quiet_seconds = 0.5;  // done after this long without an update
    double limit_seconds = 60;
};

// Callbacks on the API's network thread; the counters are read by the main
// thread.
class Receiver : public CTarnXeloMduserSpi {
  public:
    explicit Receiver(bool latency) : latency_(latency) {
        if (latency_) samples_.reserve(4u << 20);
    }
    virtual ~Receiver() = default;

    void OnFrontConnected() override { connected.store(true); }
    void OnFrontDisconnected(int reason) override {
        disconnect_reason.store(reason);
        connected.store(false);
    }
    void OnRspUserLogin(CTarnXeloRspUserLoginField*, CTarnXeloRspInfoField* info, int,
                        bool) override {
        if (info != nullptr && info->ErrorID != 0) login_error.store(info->ErrorID);
        logged_in.store(true);
    }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* d) override {
        unsigned long n = count_.load(std::memory_order_relaxed) + 1;
        // Counting alone, the clock is read every 256th update: the rate is
        // taken between the first and the last update so stamped.
        if (latency_ || n == 1 || (n & 255) == 0) {
            uint64_t now = monotonic_ns();
            if (latency_ && d != nullptr && samples_.size() < samples_.capacity()) {
                // The sender's timestamp travels in the two volume members.
                uint64_t sent = static_cast<uint64_t>(static_cast<uint32_t>(d->BidVolume1)) << 32 |
                                static_cast<uint32_t>(d->AskVolume1);
                samples_.push_back(now > sent ? now - sent : 0);
                if (trace != nullptr) trace(samples_.back());
            }
            if (n == 1) first_ns_.store(now);
            // The rate leaves out the first moments (fresh memory blocks,
            // the window opening): from the first stamp past the warm-up.
            if (warm_count_ == 0 && now - first_ns_.load() >= WARM_UP_NS) {
                warm_ns_ = now;
                warm_count_ = n;
            }
            stamped_.store(n, std::memory_order_relaxed);
            last_ns_.store(now, std::memory_order_release);
        }
        count_.store(n, std::memory_order_release);
    }

    static const uint64_t WARM_UP_NS = 300000000;

    unsigned long count() const { return count_.load(std::memory_order_acquire); }
    // Only once the API is released.
    unsigned long warm_count() const { return warm_count_; }
    uint64_t warm_ns() const { return warm_ns_; }
    uint64_t first_ns() const { return first_ns_.load(); }
    uint64_t last_ns() const { return last_ns_.load(); }
    // The update whose arrival last_ns holds.
    unsigned long stamped() const { return stamped_.load(); }
    // Only once the API is released.
    std::vector<uint64_t>& samples() { return samples_; }

    std::atomic<bool> connected{false}, logged_in{false};
    std::atomic<int> login_error{0}, disconnect_reason{0};
    // Called with each update's latency (ns) on the network thread; set
    // before Init.
    void (*trace)(uint64_t latency) = nullptr;

  private:
    bool latency_;
    std::atomic<unsigned long> count_{0}, stamped_{0};
    std::atomic<uint64_t> first_ns_{0}, last_ns_{0};
    std::vector<uint64_t> samples_;
    unsigned long warm_count_ = 0;
    uint64_t warm_ns_ = 0;
};

inline bool parse_receiver(int argc, char** argv, ReceiverOptions& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--latency") {
            o.latency = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* v = argv[++i];
        if (a == "--port")
            o.front = std::string("tcp://127.0.0.1:") + v;
        else if (a == "--flow-path")
            o.flow_path = v;
        else if (a == "--samples")
            o.samples = v;
        else if (a == "--quiet")
            o.quiet_seconds = atof(v);
        else if (a == "--limit")
            o.limit_seconds = atof(v);
        else
            return false;
    }
    return !o.front.empty();
}

// Registers, logs in and waits until the updates stop; 0 when data came.
inline int run_receiver(CTarnXeloMduserApi* api, Receiver& r, const ReceiverOptions& o) {
    api->RegisterSpi(&r);
    api->RegisterFront(o.front.c_str());
    api->SubscribeMarketDataTopic(100, TE_RESUME_FROM_NOW);
    if (api->Init() != 0) return 1;
    uint64_t start = monotonic_ns();
    auto elapsed = [&] { return static_cast<double>(monotonic_ns() - start) / 1e9; };
    bool sent = false;
    while (!sent && elapsed() < 10) {
        if (r.connected.load()) {
            CTarnXeloReqUserLoginField login;
            memset(&login, 0, sizeof login);
            snprintf(login.UserID, sizeof login.UserID, "bench");
            snprintf(login.Password, sizeof login.Password, "bench");
            snprintf(login.UserProductInfo, sizeof login.UserProductInfo, "xelmd-e2e");
            int rc = api->ReqUserLogin(&login, 1);
            if (rc == 0)
                sent = true;
            else if (rc != -12)
                break;
        }
        if (!sent) usleep(2000);
    }
    int status = 0;
    if (!sent) {
        fprintf(stderr, "xelmd-e2e-receiver: login not sent\n");
        status = 1;
    }
    unsigned long seen = 0;
    uint64_t seen_ns = 0;
    while (status == 0 && elapsed() < o.limit_seconds) {
        usleep(20000);
        unsigned long n = r.count();
        if (n == 0) continue;
        if (n != seen) {
            seen = n;
            seen_ns = monotonic_ns();
        }
        if (static_cast<double>(monotonic_ns() - seen_ns) / 1e9 >= o.quiet_seconds) break;
    }
    api->Release();
    return status;
}

// Median, p99, p99.9 and the extremes of the samples after the first tenth
// (connection warm-up), and the samples themselves when asked.
inline void print_result(Receiver& r, const ReceiverOptions& o, const char* mode) {
    unsigned long n = r.count();
    // Past the warm-up when the run lasted long enough, else from the first.
    bool warm = r.warm_count() > 0 && r.stamped() > r.warm_count();
    uint64_t from_ns = warm ? r.warm_ns() : r.first_ns();
    unsigned long from = warm ? r.warm_count() : 1;
    double seconds = static_cast<double>(r.last_ns() - from_ns) / 1e9;
    double rate =
        r.stamped() > from && seconds > 0 ? static_cast<double>(r.stamped() - from) / seconds : 0;
    printf("{\"mode\": \"%s\", \"received\": %lu, \"seconds\": %.6f, \"rate\": %.1f", mode, n,
           seconds, rate);
    std::vector<uint64_t>& s = r.samples();
    if (o.latency && s.size() > 10) {
        std::vector<uint64_t> kept(s.begin() + static_cast<long>(s.size() / 10), s.end());
        std::sort(kept.begin(), kept.end());
        auto at = [&](double q) {
            size_t i = static_cast<size_t>(q * static_cast<double>(kept.size() - 1));
            return static_cast<double>(kept[i]) / 1000.0;
        };
        printf(
            ", \"samples\": %zu, \"p50_us\": %.2f, \"p99_us\": %.2f, \"p999_us\": %.2f, "
            "\"min_us\": %.2f, \"max_us\": %.2f",
            kept.size(), at(0.5), at(0.99), at(0.999), at(0), at(1));
        if (!o.samples.empty()) {
            FILE* f = fopen(o.samples.c_str(), "w");
            for (size_t i = 0; f && i < kept.size(); ++i)
                fprintf(f, "%lu\n", static_cast<unsigned long>(kept[i]));
            if (f) fclose(f);
        }
    }
    printf("}\n");
    fflush(stdout);
}

}  // namespace E2e

#endif  // XELMD_BENCH_E2E_RECEIVER_H

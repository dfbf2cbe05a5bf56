// xelmd-bench-latency-consumer: the receiving end of the bridge's latency
// benchmark. It follows the topic's binary messages from now through an
// ordered JetStream consumer and, for each, takes two latencies: from the
// sender's stamp (CLOCK_MONOTONIC, carried in BidVolume1:AskVolume1 by
// xelmd-e2e-blaster) to receipt, and from the bridge's receive time in the
// header (CLOCK_REALTIME) to receipt. It stops once messages stopped for
// --quiet seconds and prints one JSON line of medians and 99th percentiles.
#include <nats/nats.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TarnXeloMduserApi.h"

namespace {

uint64_t clock_ns(clockid_t id) {
    struct timespec t;
    clock_gettime(id, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

double quantile_us(std::vector<int64_t>& v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return static_cast<double>(v[static_cast<size_t>(q * static_cast<double>(v.size() - 1))]) /
           1000.0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fputs("usage: xelmd-bench-latency-consumer NATS_URL STREAM SUBJECT READY_FILE\n", stderr);
        return 2;
    }
    natsConnection* conn = nullptr;
    jsCtx* js = nullptr;
    natsSubscription* sub = nullptr;
    jsSubOptions so;
    jsSubOptions_Init(&so);
    so.Stream = argv[2];
    so.Ordered = true;
    so.Config.DeliverPolicy = js_DeliverNew;
    natsStatus s = natsConnection_ConnectTo(&conn, argv[1]);
    if (s == NATS_OK) s = natsConnection_JetStream(&js, conn, nullptr);
    for (int tries = 0; s == NATS_OK; ++tries) {  // the bridge creates the stream
        s = js_SubscribeSync(&sub, js, argv[3], nullptr, &so, nullptr);
        if (s == NATS_OK || tries == 100) break;
        nats_Sleep(100);
        s = NATS_OK;
    }
    if (s != NATS_OK) {
        fprintf(stderr, "xelmd-bench-latency-consumer: %s\n", natsStatus_GetText(s));
        return 1;
    }
    FILE* ready = fopen(argv[4], "w");
    if (ready) fclose(ready);
    std::vector<int64_t> total, from_bridge;
    unsigned long received = 0, other = 0;
    bool started = false;
    for (;;) {
        natsMsg* msg = nullptr;
        s = natsSubscription_NextMsg(&msg, sub, started ? 2000 : 60000);
        if (s != NATS_OK) break;
        uint64_t mono = clock_ns(CLOCK_MONOTONIC), real = clock_ns(CLOCK_REALTIME);
        started = true;
        const char* d = natsMsg_GetData(msg);
        int len = natsMsg_GetDataLength(msg);
        CTarnXeloDepthMarketDataField r;
        if (len >= 32 && d[0] == 'X' && d[1] == 'B' &&
            len >= static_cast<unsigned char>(d[3]) + static_cast<int>(sizeof r)) {
            memcpy(&r, d + static_cast<unsigned char>(d[3]), sizeof r);
            int64_t at;
            memcpy(&at, d + 24, 8);
            uint64_t stamp = static_cast<uint64_t>(static_cast<uint32_t>(r.BidVolume1)) << 32 |
                             static_cast<uint32_t>(r.AskVolume1);
            ++received;
            total.push_back(static_cast<int64_t>(mono - stamp));
            from_bridge.push_back(static_cast<int64_t>(real) - at);
        } else {
            ++other;
        }
        natsMsg_Destroy(msg);
    }
    // The first tenth warms the connections up.
    size_t skip = total.size() / 10;
    total.erase(total.begin(), total.begin() + static_cast<long>(skip));
    from_bridge.erase(from_bridge.begin(), from_bridge.begin() + static_cast<long>(skip));
    printf(
        "{\"received\": %lu, \"other\": %lu, \"samples\": %zu, \"p50_us\": %.2f, \"p99_us\": "
        "%.2f, \"bridge_p50_us\": %.2f, \"bridge_p99_us\": %.2f}\n",
        received, other, total.size(), quantile_us(total, 0.5), quantile_us(total, 0.99),
        quantile_us(from_bridge, 0.5), quantile_us(from_bridge, 0.99));
    natsSubscription_Destroy(sub);
    jsCtx_Destroy(js);
    natsConnection_Destroy(conn);
    nats_Close();
    return received > 0 ? 0 : 1;
}

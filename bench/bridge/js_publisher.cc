// xelmd-bench-js-publisher: the baseline of the bridge's throughput. A plain
// libnats JetStream asynchronous publisher sends the payloads of a file
// (length-prefixed, as bench/bridge/run.py writes them from the bridge's
// own stream) round and round, with the bridge's headers and unique
// Nats-Msg-Ids, at most --max-pending unacknowledged, and times the run
// until every publish is acknowledged. With a RATE it is paced instead and
// stamps a binary payload's bridge-time field with the send time, for the
// latency baseline: the same path into NATS and out to the consumer, without
// the bridge.
#include <nats/nats.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

namespace {

double now_seconds() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool read_payloads(const char* path, std::vector<std::string>& out) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    unsigned char len[4];
    while (fread(len, 1, 4, f) == 4) {
        size_t n = len[0] | len[1] << 8 | len[2] << 16 | static_cast<size_t>(len[3]) << 24;
        std::string p(n, '\0');
        if (fread(&p[0], 1, n, f) != n) break;
        out.push_back(p);
    }
    fclose(f);
    return !out.empty();
}

unsigned long g_failed = 0;

void on_error(jsCtx*, jsPubAckErr*, void*) {
    ++g_failed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6 && argc != 7) {
        fputs(
            "usage: xelmd-bench-js-publisher NATS_URL STREAM SUBJECT_PREFIX PAYLOAD_FILE COUNT "
            "[RATE]\n",
            stderr);
        return 2;
    }
    std::vector<std::string> payloads;
    if (!read_payloads(argv[4], payloads)) {
        fprintf(stderr, "xelmd-bench-js-publisher: no payloads in %s\n", argv[4]);
        return 2;
    }
    long count = atol(argv[5]);
    double rate = argc == 7 ? atof(argv[6]) : 0;
    natsConnection* conn = nullptr;
    jsCtx* js = nullptr;
    jsOptions jo;
    jsOptions_Init(&jo);
    jo.PublishAsync.MaxPending = 4096;  // the bridge's default --max-inflight
    jo.PublishAsync.ErrHandler = on_error;
    // A full window waits for room rather than failing the publish.
    jo.PublishAsync.StallWait = 60000;
    natsStatus s = natsConnection_ConnectTo(&conn, argv[1]);
    if (s == NATS_OK) s = natsConnection_JetStream(&js, conn, &jo);
    if (s != NATS_OK) {
        fprintf(stderr, "xelmd-bench-js-publisher: %s\n", natsStatus_GetText(s));
        return 1;
    }
    std::string subject = std::string(argv[3]) + ".100.XS2509";
    double start = now_seconds();
    for (long i = 0; i < count && s == NATS_OK; ++i) {
        std::string p = payloads[static_cast<size_t>(i) % payloads.size()];
        if (rate > 0) {
            double due = start + static_cast<double>(i) / rate;
            while (now_seconds() < due) {
            }
            struct timespec t;
            clock_gettime(CLOCK_REALTIME, &t);
            int64_t ns = static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
            if (p.size() >= 32 && p[0] == 'X' && p[1] == 'B') memcpy(&p[24], &ns, 8);
        }
        natsMsg* msg = nullptr;
        s = natsMsg_Create(&msg, subject.c_str(), nullptr, p.data(), static_cast<int>(p.size()));
        char id[48], seq[24];
        snprintf(id, sizeof id, "100:%ld:0", i + 1);
        snprintf(seq, sizeof seq, "%ld", i + 1);
        if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Nats-Msg-Id", id);
        if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Xelmd-Topic", "100");
        if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Xelmd-Seq", seq);
        if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Xelmd-Index", "0");
        jsPubOptions po;
        jsPubOptions_Init(&po);
        po.MaxWait = 5000;  // the bridge's default --ack-wait
        if (s == NATS_OK) s = js_PublishMsgAsync(js, &msg, &po);
        if (msg) natsMsg_Destroy(msg);
    }
    jsPubOptions wait;
    jsPubOptions_Init(&wait);
    wait.MaxWait = 60000;
    if (s == NATS_OK) s = js_PublishAsyncComplete(js, &wait);
    double seconds = now_seconds() - start;
    if (s != NATS_OK) fprintf(stderr, "xelmd-bench-js-publisher: %s\n", natsStatus_GetText(s));
    printf("{\"published\": %ld, \"failed\": %lu, \"seconds\": %.6f, \"rate\": %.1f, \"ok\": %s}\n",
           count, g_failed, seconds, static_cast<double>(count) / seconds,
           s == NATS_OK ? "true" : "false");
    jsCtx_Destroy(js);
    natsConnection_Destroy(conn);
    nats_Close();
    return s == NATS_OK && g_failed == 0 ? 0 : 1;
}

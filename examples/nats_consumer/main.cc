// nats_consumer: follows one instrument's top of book from the JetStream
// stream that xelmd-bridge fills, from the stream's start or from now. It
// reads both payloads the bridge writes (JSON and binary) and prints a line
// whenever the best bid or ask (price or volume) changes.
#include <nats/nats.h>

#include <ctype.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "TarnXeloMduserApi.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void on_signal(int) {
    g_stop = 1;
}

struct Options {
    std::string nats = "nats://127.0.0.1:4222";
    std::string stream = "XELMD";
    std::string prefix = "xelmd.md";
    std::string topic = "100";
    std::string instrument;
    bool from_start = true;
    double seconds = 0;  // 0: until SIGINT or SIGTERM
    long count = 0;      // 0: no limit
};

struct Top {
    double bid = 0, ask = 0;
    int bid_volume = 0, ask_volume = 0;
    long long seq = 0;
    bool operator==(const Top& o) const {
        return bid == o.bid && ask == o.ask && bid_volume == o.bid_volume &&
               ask_volume == o.ask_volume;
    }
};

void usage(FILE* out) {
    fprintf(out,
            "usage: nats_consumer --instrument ID [options]\n"
            "Follows one instrument's best bid and ask from the stream xelmd-bridge writes.\n"
            "  --instrument ID      the instrument (required)\n"
            "  --topic N            the topic (default 100)\n"
            "  --from start|now     from the stream's first message or only new ones (default "
            "start)\n"
            "  --nats URL           the NATS server (default nats://127.0.0.1:4222)\n"
            "  --stream NAME        the stream (default XELMD)\n"
            "  --prefix P           the bridge's subject prefix (default xelmd.md)\n"
            "  --seconds S          stop after S seconds (default: at SIGINT or SIGTERM)\n"
            "  --count N            stop after N updates of the instrument\n"
            "  --help               this text\n"
            "Payloads: JSON and binary (--format of the bridge) are both read.\n"
            "Output: one line per change of the top of book:\n"
            "  <instrument> seq <packet> bid <price> x <volume> ask <price> x <volume>\n");
}

// A decimal number within [low, high].
bool number(const std::string& text, double low, double high) {
    char* end = nullptr;
    double v = strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && v >= low && v <= high;
}

// 0 parsed, 1 --help, 2 bad arguments.
int parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") return 1;
        if (i + 1 >= argc) {
            fprintf(stderr, "nats_consumer: %s needs a value (see --help)\n", a.c_str());
            return 2;
        }
        std::string v = argv[++i];
        if (a == "--instrument") {
            o.instrument = v;
        } else if (a == "--topic") {
            o.topic = v;
        } else if (a == "--nats") {
            o.nats = v;
        } else if (a == "--stream") {
            o.stream = v;
        } else if (a == "--prefix") {
            o.prefix = v;
        } else if (a == "--seconds" && number(v, 0, 1e9)) {
            o.seconds = atof(v.c_str());
        } else if (a == "--count" && number(v, 0, 1e15)) {
            o.count = atol(v.c_str());
        } else if (a == "--from" && (v == "start" || v == "now")) {
            o.from_start = v == "start";
        } else {
            fprintf(stderr, "nats_consumer: bad option or value %s %s (see --help)\n", a.c_str(),
                    v.c_str());
            return 2;
        }
    }
    if (o.instrument.empty() || o.topic.find_first_not_of("0123456789") != std::string::npos) {
        fprintf(stderr, "nats_consumer: --instrument is required, --topic is a number\n");
        return 2;
    }
    return 0;
}

// The bridge's subject token for an instrument id: [A-Za-z0-9_-] as they
// are, every other byte as %HH, an empty id as "%".
std::string subject_token(const std::string& id) {
    if (id.empty()) return "%";
    std::string out;
    for (unsigned char c : id) {
        if (isalnum(c) || c == '_' || c == '-') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

// The string value of "name":"value" in the bridge's JSON object (every
// value is a string there).
bool json_member(const char* data, int len, const char* name, std::string& value) {
    std::string text(data, len);
    std::string key = std::string("\"") + name + "\":\"";
    size_t at = text.find(key);
    if (at == std::string::npos) return false;
    at += key.size();
    size_t end = text.find('"', at);
    if (end == std::string::npos) return false;
    value = text.substr(at, end - at);
    return true;
}

bool from_json(const char* data, int len, Top& top) {
    std::string bid, bidv, ask, askv, seq;
    if (!json_member(data, len, "BidPrice1", bid) || !json_member(data, len, "BidVolume1", bidv) ||
        !json_member(data, len, "AskPrice1", ask) || !json_member(data, len, "AskVolume1", askv) ||
        !json_member(data, len, "SequenceNo", seq))
        return false;
    // An empty value is a null: no price on that side.
    top.bid = bid.empty() ? 0 : atof(bid.c_str());
    top.ask = ask.empty() ? 0 : atof(ask.c_str());
    top.bid_volume = atoi(bidv.c_str());
    top.ask_volume = atoi(askv.c_str());
    top.seq = atoll(seq.c_str());
    return true;
}

// Binary: "XB", version 1, header length, u32 record length, i32 topic,
// u32 index, i64 sequence, i64 bridge time; then the record.
bool from_binary(const char* data, int len, Top& top) {
    if (len < 32 || data[0] != 'X' || data[1] != 'B' || data[2] != 1) return false;
    unsigned header = static_cast<unsigned char>(data[3]);
    uint32_t record_len;
    memcpy(&record_len, data + 4, 4);
    if (record_len < sizeof(CTarnXeloDepthMarketDataField) || header + record_len > (unsigned)len)
        return false;
    CTarnXeloDepthMarketDataField r;
    memcpy(&r, data + header, sizeof r);
    int64_t seq;
    memcpy(&seq, data + 16, 8);
    top.bid = r.BidPrice1;
    top.ask = r.AskPrice1;
    top.bid_volume = r.BidVolume1;
    top.ask_volume = r.AskVolume1;
    top.seq = seq;
    return true;
}

int follow(natsSubscription* sub, const Options& o) {
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    Top last;
    bool have = false;
    long updates = 0;
    while (!g_stop && (o.count == 0 || updates < o.count)) {
        if (o.seconds > 0) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            if (now.tv_sec - start.tv_sec + (now.tv_nsec - start.tv_nsec) / 1e9 >= o.seconds) break;
        }
        natsMsg* msg = nullptr;
        natsStatus s = natsSubscription_NextMsg(&msg, sub, 200);
        if (s == NATS_TIMEOUT) continue;
        if (s != NATS_OK) {
            fprintf(stderr, "nats_consumer: %s\n", natsStatus_GetText(s));
            return 1;
        }
        const char* data = natsMsg_GetData(msg);
        int len = natsMsg_GetDataLength(msg);
        Top top;
        bool ok =
            len > 0 && (data[0] == '{' ? from_json(data, len, top) : from_binary(data, len, top));
        natsMsg_Destroy(msg);
        if (!ok) {
            fprintf(stderr, "nats_consumer: a message neither JSON nor binary version 1\n");
            continue;
        }
        ++updates;
        if (have && top == last) continue;
        have = true;
        last = top;
        printf("%s seq %lld bid %.10g x %d ask %.10g x %d\n", o.instrument.c_str(), top.seq,
               top.bid, top.bid_volume, top.ask, top.ask_volume);
        fflush(stdout);
    }
    fprintf(stderr, "nats_consumer: %ld updates of %s\n", updates, o.instrument.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int parsed = parse(argc, argv, o);
    if (parsed == 1) usage(stdout);
    if (parsed != 0) return parsed == 1 ? 0 : 2;
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);

    natsConnection* conn = nullptr;
    jsCtx* js = nullptr;
    natsSubscription* sub = nullptr;
    std::string subject = o.prefix + "." + o.topic + "." + subject_token(o.instrument);
    jsSubOptions so;
    jsSubOptions_Init(&so);
    so.Stream = o.stream.c_str();
    so.Ordered = true;  // the library recreates the consumer after a gap
    so.Config.DeliverPolicy = o.from_start ? js_DeliverAll : js_DeliverNew;
    jsErrCode jerr = static_cast<jsErrCode>(0);
    natsStatus s = natsConnection_ConnectTo(&conn, o.nats.c_str());
    if (s == NATS_OK) s = natsConnection_JetStream(&js, conn, nullptr);
    // The bridge creates the stream when it first starts: wait up to 10 s.
    for (int tries = 0; s == NATS_OK && !g_stop; ++tries) {
        s = js_SubscribeSync(&sub, js, subject.c_str(), nullptr, &so, &jerr);
        if (s == NATS_OK || tries == 50) break;
        nats_Sleep(200);
        s = NATS_OK;
    }
    if (s == NATS_OK && sub == nullptr) s = NATS_ERR;  // stopped while waiting
    int status = 1;
    if (s != NATS_OK) {
        fprintf(stderr, "nats_consumer: cannot follow %s on %s: %s (%d)\n", subject.c_str(),
                o.nats.c_str(), natsStatus_GetText(s), static_cast<int>(jerr));
    } else {
        fprintf(stderr, "nats_consumer: following %s in stream %s from %s\n", subject.c_str(),
                o.stream.c_str(), o.from_start ? "its start" : "now");
        status = follow(sub, o);
    }
    natsSubscription_Destroy(sub);
    jsCtx_Destroy(js);
    natsConnection_Destroy(conn);
    nats_Close();
    return status;
}

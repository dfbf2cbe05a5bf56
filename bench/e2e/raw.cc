// xelmd-e2e-raw: the baselines of the end-to-end benchmark, plain sockets
// and nothing of the library.
//   stream-recv --port-file F [--chunk N]
//                                      accept one stream, count its frames,
//                                      receiving at most N bytes a call
//   stream-send --port P --file F --seconds S
//                                      send the frames of F over and over,
//                                      renumbered as the blaster does
//   pong --port-file F                 echo 64-byte messages
//   ping --port P --rate R --seconds S [--samples FILE]
//                                      paced round trips; one-way = RTT / 2
//   paced-recv --port-file F [--samples FILE]
//                                      one-way latency of stamped 64-byte
//                                      messages, read as they come
//   paced-send --port P --rate R --seconds S
//                                      stamped messages at R a second, sent
//                                      on time whatever the receiver does
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/e2e/frame_batch.h"

namespace {

const int MESSAGE = 64;
const int SEQUENCE_AT = 14;  // transport 4 + compression 2 + header offset 8

int listen_any(const std::string& port_file) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 1) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return -1;
    std::string tmp = port_file + ".tmp";
    FILE* f = fopen(tmp.c_str(), "w");
    if (f == nullptr) return -1;
    fprintf(f, "%d\n", ntohs(a.sin_port));
    fclose(f);
    rename(tmp.c_str(), port_file.c_str());
    int c = accept(fd, nullptr, nullptr);
    close(fd);
    int one = 1;
    if (c >= 0) setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return c;
}

int connect_to(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<unsigned short>(port));
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool send_all(int fd, const unsigned char* p, size_t n) {
    while (n > 0) {
        ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool recv_all(int fd, unsigned char* p, size_t n) {
    while (n > 0) {
        ssize_t k = recv(fd, p, n, 0);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

// Counts whole frames by their transport headers, as a reader of the same
// bytes must at the least.
int stream_recv(const std::string& port_file, size_t chunk) {
    int fd = listen_any(port_file);
    if (fd < 0) return 1;
    std::vector<unsigned char> buf(1 << 18);
    size_t have = 0;
    unsigned long frames = 0;
    uint64_t first = 0, last = 0, warm = 0;
    unsigned long warm_frames = 0, last_frames = 0;
    const uint64_t warm_up = 300000000;  // as the library's receiver counts
    for (;;) {
        size_t room = std::min(buf.size() - have, chunk);
        ssize_t k = recv(fd, buf.data() + have, room, 0);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        last = E2e::monotonic_ns();
        if (first == 0) first = last;
        have += static_cast<size_t>(k);
        size_t at = 0;
        while (have - at >= 4) {
            size_t length = 4 + (static_cast<size_t>(buf[at + 2]) << 8 | buf[at + 3]);
            if (have - at < length) break;
            at += length;
            ++frames;
        }
        memmove(buf.data(), buf.data() + at, have - at);
        have -= at;
        last_frames = frames;
        if (warm == 0 && last - first >= warm_up) {
            warm = last;
            warm_frames = frames;
        }
    }
    // Past the warm-up when the stream lasted long enough, else from the first.
    bool warmed = warm != 0 && last > warm;
    uint64_t from = warmed ? warm : first;
    unsigned long counted = warmed ? last_frames - warm_frames : frames - 1;
    double seconds = static_cast<double>(last - from) / 1e9;
    printf("{\"mode\": \"raw-stream\", \"received\": %lu, \"seconds\": %.6f, \"rate\": %.1f}\n",
           frames, seconds, seconds > 0 ? static_cast<double>(counted) / seconds : 0);
    return 0;
}

int stream_send(int port, const std::string& file, double seconds) {
    FILE* f = fopen(file.c_str(), "rb");
    if (f == nullptr) return 1;
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    size_t k;
    while ((k = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + k);
    fclose(f);
    std::vector<size_t> starts;
    for (size_t at = 0; at + 4 <= bytes.size();) {
        starts.push_back(at);
        at += 4 + (static_cast<size_t>(bytes[at + 2]) << 8 | bytes[at + 3]);
    }
    int fd = connect_to(port);
    if (fd < 0 || starts.empty()) return 1;
    uint32_t next = 1;
    unsigned long sent = 0;
    uint64_t start = E2e::monotonic_ns();
    uint64_t end = start + static_cast<uint64_t>(seconds * 1e9);
    bool ok = true;
    while (ok && E2e::monotonic_ns() < end) {
        for (size_t s : starts) {
            unsigned char* p = bytes.data() + s + SEQUENCE_AT;
            p[0] = static_cast<unsigned char>(next >> 24);
            p[1] = static_cast<unsigned char>(next >> 16);
            p[2] = static_cast<unsigned char>(next >> 8);
            p[3] = static_cast<unsigned char>(next);
            ++next;
        }
        ok = send_all(fd, bytes.data(), bytes.size());
        sent += starts.size();
    }
    printf("{\"sent\": %lu, \"seconds\": %.6f}\n", sent,
           static_cast<double>(E2e::monotonic_ns() - start) / 1e9);
    close(fd);
    return ok ? 0 : 1;
}

int pong(const std::string& port_file) {
    int fd = listen_any(port_file);
    if (fd < 0) return 1;
    unsigned char m[MESSAGE];
    while (recv_all(fd, m, MESSAGE) && send_all(fd, m, MESSAGE)) {
    }
    return 0;
}

// Median, p99, p99.9 and extremes after the first tenth, as one JSON line,
// and the kept samples (ns, one a line) when a file is given.
int report(const char* mode, std::vector<uint64_t>& samples, const std::string& samples_file) {
    std::vector<uint64_t> kept(samples.begin() + static_cast<long>(samples.size() / 10),
                               samples.end());
    std::sort(kept.begin(), kept.end());
    if (kept.empty()) return 1;
    auto at = [&](double q) {
        return static_cast<double>(
                   kept[static_cast<size_t>(q * static_cast<double>(kept.size() - 1))]) /
               1000.0;
    };
    printf(
        "{\"mode\": \"%s\", \"received\": %zu, \"samples\": %zu, \"p50_us\": %.2f, "
        "\"p99_us\": %.2f, \"p999_us\": %.2f, \"min_us\": %.2f, \"max_us\": %.2f}\n",
        mode, samples.size(), kept.size(), at(0.5), at(0.99), at(0.999), at(0), at(1));
    if (!samples_file.empty()) {
        FILE* f = fopen(samples_file.c_str(), "w");
        for (size_t i = 0; f && i < kept.size(); ++i)
            fprintf(f, "%lu\n", static_cast<unsigned long>(kept[i]));
        if (f) fclose(f);
    }
    return 0;
}

int ping(int port, double rate, double seconds, const std::string& samples_file) {
    int fd = connect_to(port);
    if (fd < 0) return 1;
    unsigned char m[MESSAGE];
    memset(m, 0x5a, sizeof m);
    std::vector<uint64_t> samples;
    samples.reserve(static_cast<size_t>(rate * seconds) + 16);
    double interval = 1e9 / rate;
    uint64_t start = E2e::monotonic_ns();
    uint64_t end = start + static_cast<uint64_t>(seconds * 1e9);
    for (unsigned long k = 0;; ++k) {
        uint64_t due = start + static_cast<uint64_t>(static_cast<double>(k) * interval);
        if (due >= end) break;
        uint64_t t0 = E2e::wait_until(due);
        if (!send_all(fd, m, MESSAGE) || !recv_all(fd, m, MESSAGE)) return 1;
        samples.push_back((E2e::monotonic_ns() - t0) / 2);
    }
    close(fd);
    return report("raw-pingpong", samples, samples_file);
}

// Unlike the ping-pong, the sender does not wait for the receiver: a
// receiver held up for a while finds every message sent meanwhile late, as
// the library's receiver does with the blaster.
int paced_send(int port, double rate, double seconds) {
    int fd = connect_to(port);
    if (fd < 0) return 1;
    unsigned char m[MESSAGE];
    memset(m, 0x5a, sizeof m);
    double interval = 1e9 / rate;
    uint64_t start = E2e::monotonic_ns();
    uint64_t end = start + static_cast<uint64_t>(seconds * 1e9);
    unsigned long sent = 0;
    for (unsigned long k = 0;; ++k) {
        uint64_t due = start + static_cast<uint64_t>(static_cast<double>(k) * interval);
        if (due >= end) break;
        E2e::wait_until(due);
        uint64_t now = E2e::monotonic_ns();
        memcpy(m, &now, sizeof now);
        if (!send_all(fd, m, MESSAGE)) return 1;
        ++sent;
    }
    printf("{\"sent\": %lu}\n", sent);
    close(fd);
    return 0;
}

int paced_recv(const std::string& port_file, const std::string& samples_file) {
    int fd = listen_any(port_file);
    if (fd < 0) return 1;
    // Whatever has arrived is read at once and every whole message in it
    // stamped with the same clock reading, as a receiver reading in bulk.
    std::vector<unsigned char> buf(1 << 16);
    size_t have = 0;
    std::vector<uint64_t> samples;
    samples.reserve(1u << 22);
    for (;;) {
        ssize_t k = recv(fd, buf.data() + have, buf.size() - have, 0);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        have += static_cast<size_t>(k);
        uint64_t now = E2e::monotonic_ns();
        size_t at = 0;
        for (; at + MESSAGE <= have; at += MESSAGE) {
            uint64_t sent;
            memcpy(&sent, buf.data() + at, sizeof sent);
            samples.push_back(now > sent ? now - sent : 0);
        }
        memmove(buf.data(), buf.data() + at, have - at);
        have -= at;
    }
    close(fd);
    return report("raw-paced", samples, samples_file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs(
            "usage: xelmd-e2e-raw stream-recv|stream-send|pong|ping|paced-recv|paced-send "
            "[options]\n",
            stderr);
        return 2;
    }
    std::string mode = argv[1], port_file, file, samples;
    int port = 0;
    size_t chunk = 1 << 18;
    double seconds = 2, rate = 10000;
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        const char* v = argv[i + 1];
        if (a == "--port-file")
            port_file = v;
        else if (a == "--port")
            port = atoi(v);
        else if (a == "--file")
            file = v;
        else if (a == "--seconds")
            seconds = atof(v);
        else if (a == "--rate")
            rate = atof(v);
        else if (a == "--samples")
            samples = v;
        else if (a == "--chunk")
            chunk = static_cast<size_t>(atol(v));
        else
            return 2;
    }
    if (mode == "stream-recv") return stream_recv(port_file, chunk);
    if (mode == "stream-send") return stream_send(port, file, seconds);
    if (mode == "pong") return pong(port_file);
    if (mode == "ping") return ping(port, rate, seconds, samples);
    if (mode == "paced-send") return paced_send(port, rate, seconds);
    if (mode == "paced-recv") return paced_recv(port_file, samples);
    return 2;
}

// The client channel on a loopback TCP connection.
// ChannelRead/k: read() of a depth-market-data stream (frames of about 350
// bytes) with cipher k (0 none, 1 XOR, 2 DES, 3 AES, 4 SM4) or, for k = 5,
// zero-run compressed frames without cipher; baseline: recv of the same
// bytes into a buffer of the channel's size. ChannelWrite/k/F: write() of
// frames published in a flow, cipher k (0 or 3), size factor F (batches of
// 4026 x F bytes); baseline: one send of the same bytes. The peer's side of
// each transfer runs with the timer paused, so both figures hold only the
// receiving (or sending) end. Rates are per CPU second of this thread.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/data_reader.h"
#include "field/xelfield.h"
#include "network/crp_packet.h"
#include "network/xelo_client_channel.h"
#include "network/xelo_flow.h"
#include "network/xelo_packet.h"

using namespace Field;

namespace {

using Network::XeloClientChannel;
using Network::XeloFlow;
using Bytes = std::string;

const unsigned int MIB = 1048576;
const int FRAMES = 4096;  // frames in the prepared stream (one pass)
const int CHUNK = 65536;  // bytes the peer sends per step
const unsigned long KEY = 0x0123456789abcdefUL;

// One depth-market-data packet as the front sends it, with a sequence.
Bytes depth_packet(unsigned long sequence, int tick) {
    XelDepthMarketDataField r;
    memset(&r, 0, sizeof r);
    strcpy(r.TradingDay, "20261205");
    strcpy(r.SettlementGroupID, "SG01");
    strcpy(r.InstrumentID, "cu2601");
    strcpy(r.UpdateTime, "10:15:32");
    strcpy(r.ActionDay, "20261205");
    r.LastPrice = 72150000 + tick * 10000;
    r.PreSettlementPrice = 71980000;
    r.PreClosePrice = 72000000;
    r.OpenPrice = 72010000;
    r.HighestPrice = 72300000;
    r.LowestPrice = 71900000;
    r.ClosePrice = r.SettlementPrice = r.PreDelta = r.CurrDelta = INT64_MAX;
    r.UpperLimitPrice = 77000000;
    r.LowerLimitPrice = 67000000;
    r.Volume = 45123 + tick;
    r.Turnover = 9876543210123;
    r.OpenInterest = 184001000;
    r.PreOpenInterest = 183452000;
    r.BidPrice1 = 72140000 + tick * 10000;
    r.AskPrice1 = 72150000 + tick * 10000;
    r.BidVolume1 = 12;
    r.AskVolume1 = 7;
    char unit[Network::XeloPacket::MAX_PACKAGE_SIZE];
    Network::XeloPacket packet(0x5803, 0, 'L');
    packet.attach(unit);
    packet.header.sequence_series = 7;
    packet.set_sequence(sequence);
    packet.add_field(&XelDepthMarketDataField::DESC, &r, XelDepthMarketDataField::to_stream);
    return Bytes(unit, static_cast<size_t>(packet.commit()));
}

Bytes plain_frame(const Bytes& packet) {
    Bytes f(6, '\0');
    XeloFlow::write_prefix(&f[0], static_cast<unsigned int>(packet.size()));
    return f + packet;
}

Bytes zero_frame(const Bytes& packet) {
    unsigned char out[8194];
    int n = sizeof out;
    Network::CrpPacket::encode_zero(out, n, reinterpret_cast<const unsigned char*>(packet.data()),
                                    static_cast<int>(packet.size()));
    Bytes f = plain_frame(Bytes(reinterpret_cast<char*>(out), n));
    f[5] = 3;
    return f;
}

// The stream the front would send for mode k, frames numbered from 1.
Bytes make_stream(int k) {
    XeloClientChannel cipher(nullptr, nullptr, nullptr, 1);
    if (k >= 1 && k <= 4) cipher.set_cipher(static_cast<unsigned char>(k), KEY);
    Bytes stream;
    for (int i = 0; i < FRAMES; ++i) {
        Bytes p = depth_packet(static_cast<unsigned long>(i + 1), i % 17);
        Bytes f = k == 5 ? zero_frame(p) : plain_frame(p);
        if (k >= 1 && k <= 4) {
            unsigned char* c = reinterpret_cast<unsigned char*>(&f[4]);
            cipher.encode(c, c, static_cast<int>(f.size() - 4));
        }
        stream += f;
    }
    return stream;
}

// A connected loopback TCP pair with large buffers; [0] the channel's end.
struct Pair {
    int fd[2];
    Pair() {
        int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener, 1);
        socklen_t len = sizeof a;
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        fd[1] = socket(AF_INET, SOCK_STREAM, 0);
        int big = 4 * MIB;
        setsockopt(fd[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
        connect(fd[1], reinterpret_cast<sockaddr*>(&a), sizeof a);
        fd[0] = accept(listener, nullptr, nullptr);
        setsockopt(fd[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        setsockopt(fd[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
        setsockopt(fd[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        ::close(listener);
    }
    void send_all(int from, const char* data, size_t n) {
        while (n > 0) {
            ssize_t r = ::send(fd[from], data, n, MSG_NOSIGNAL);
            if (r <= 0) return;
            data += r;
            n -= static_cast<size_t>(r);
        }
    }
    // Drains what is queued for `to`, without waiting.
    void drain(int to) {
        static char sink[1 << 16];
        while (recv(fd[to], sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
    }
};

void set_rates(benchmark::State& state, double frames, double bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["frames_per_second"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}

// The frames of the stream from pos on that fit into CHUNK bytes.
size_t chunk_end(const Bytes& s, size_t pos, int& frames) {
    size_t end = pos;
    frames = 0;
    while (end < s.size()) {
        size_t len = Network::XmpPacket::get_frame_length(s.data() + end);
        if (end + len - pos > CHUNK) break;
        end += len;
        ++frames;
    }
    return end;
}

void ChannelRead(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    const Bytes stream = make_stream(k);
    Pair pair;
    XeloClientChannel channel(nullptr, nullptr, nullptr, 1);
    channel.create(pair.fd[0]);
    if (k >= 1 && k <= 4) channel.set_cipher(static_cast<unsigned char>(k), KEY);
    XeloFlow* flow =
        new XeloFlow(7, 16 * MIB, 16 * MIB, nullptr, nullptr, 0, nullptr, false, false);
    channel.subscribe(flow, nullptr, 0, false);
    size_t pos = 0;
    double frames = 0, bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (pos == stream.size()) {
            pos = 0;
            flow->clear(0);
        }
        int n = 0;
        size_t end = chunk_end(stream, pos, n);
        pair.send_all(1, stream.data() + pos, end - pos);
        const unsigned long target = flow->get_count() + static_cast<unsigned long>(n);
        state.ResumeTiming();
        // read() takes at most 8 receives a call; the chunk may need more.
        while (flow->get_count() < target) {
            if (channel.read() < 0) {
                state.SkipWithError("channel closed");
                break;
            }
        }
        frames += n;
        bytes += static_cast<double>(end - pos);
        pos = end;
    }
    set_rates(state, frames, bytes);
    channel.close(0);
    delete flow;
}

void ChannelRead_baseline(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    const Bytes stream = make_stream(k);
    Pair pair;
    // The channel's receive buffer size at factor 1.
    std::vector<char> buffer(8200);
    size_t pos = 0;
    double frames = 0, bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (pos == stream.size()) pos = 0;
        int n = 0;
        size_t end = chunk_end(stream, pos, n);
        pair.send_all(1, stream.data() + pos, end - pos);
        state.ResumeTiming();
        size_t got = 0;
        while (got < end - pos) {
            ssize_t r = recv(pair.fd[0], buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (r == 0) break;
            if (r > 0) got += static_cast<size_t>(r);
        }
        benchmark::DoNotOptimize(buffer.data());
        frames += n;
        bytes += static_cast<double>(got);
        pos = end;
    }
    set_rates(state, frames, bytes);
    state.SetLabel("recv");
    ::close(pair.fd[0]);
    ::close(pair.fd[1]);
}

void ChannelWrite(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    const int factor = static_cast<int>(state.range(1));
    std::vector<Bytes> frames;
    for (int i = 0; i < 256; ++i)
        frames.push_back(plain_frame(depth_packet(static_cast<unsigned long>(i + 1), i % 17)));
    Pair pair;
    XeloClientChannel channel(nullptr, nullptr, nullptr, factor);
    channel.create(pair.fd[0]);
    if (k != 0) channel.set_cipher(static_cast<unsigned char>(k), KEY);
    XeloFlow* flow = nullptr;
    double sent_frames = 0, bytes = 0;
    long round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A fresh flow now and then keeps memory bounded.
        if (round++ % 64 == 0) {
            XeloFlow* old = flow;
            flow = new XeloFlow(30, 16 * MIB, 16 * MIB, nullptr, nullptr, 0, nullptr, false, false);
            channel.publish(flow, nullptr, nullptr, nullptr, nullptr, nullptr);
            delete old;
        }
        size_t total = 0;
        for (const Bytes& f : frames) {
            memcpy(flow->alloc_object(static_cast<unsigned short>(f.size())), f.data(), f.size());
            flow->commit_object(static_cast<unsigned short>(f.size()), false);
            total += f.size();
        }
        pair.drain(1);
        state.ResumeTiming();
        for (;;) {
            int r = channel.write();
            if (r == XeloClientChannel::WRITE_IDLE) break;
            if (r == XeloClientChannel::WRITE_BLOCKED) {
                state.PauseTiming();
                pair.drain(1);
                state.ResumeTiming();
            } else if (r < 0) {
                state.SkipWithError("channel closed");
                break;
            }
        }
        sent_frames += static_cast<double>(frames.size());
        bytes += static_cast<double>(total);
    }
    set_rates(state, sent_frames, bytes);
    channel.close(0);
    delete flow;
}

void ChannelWrite_baseline(benchmark::State& state) {
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all += plain_frame(depth_packet(static_cast<unsigned long>(i + 1), i % 17));
    Pair pair;
    double bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        pair.drain(1);
        state.ResumeTiming();
        size_t done = 0;
        while (done < all.size()) {
            ssize_t r = ::send(pair.fd[0], all.data() + done, all.size() - done,
                               MSG_NOSIGNAL | MSG_DONTWAIT);
            if (r > 0) {
                done += static_cast<size_t>(r);
            } else {
                state.PauseTiming();
                pair.drain(1);
                state.ResumeTiming();
            }
        }
        bytes += static_cast<double>(all.size());
    }
    set_rates(state, bytes / (static_cast<double>(all.size()) / 256), bytes);
    state.SetLabel("send");
    ::close(pair.fd[0]);
    ::close(pair.fd[1]);
}

}  // namespace

BENCHMARK(ChannelRead)->DenseRange(0, 5);
BENCHMARK(ChannelRead_baseline)->DenseRange(0, 5);
// Args: cipher (0 none, 3 AES), size factor (batches of 4026 x factor bytes).
BENCHMARK(ChannelWrite)->Args({0, 1})->Args({3, 1})->Args({0, 16})->Args({3, 16});
BENCHMARK(ChannelWrite_baseline)->Args({0, 1})->Args({3, 1})->Args({0, 16})->Args({3, 16});

BENCHMARK_MAIN();

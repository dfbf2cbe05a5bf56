// Per-frame payload encipherment of a channel for each cipher type, beside
// the nearest libcrypto work done per frame (the counter restarted every
// frame) or, for XOR, a plain copy of the same bytes.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>
#include <vector>

#include "network/channel.h"

namespace {

struct BenchChannel : Network::Channel {
    BenchChannel() : Network::Channel(nullptr, nullptr) {}
    int get_id() const override { return 0; }
    Base::TcpSocket* get_socket() override { return nullptr; }
    bool listen(const char*, int) override { return false; }
    bool connect(const char*, int, int) override { return false; }
    int close(int reason) override { return reason; }
};

// Single DES lives in libcrypto's legacy provider; both stay loaded for the
// whole run (unloading the default one would disable the other baselines).
const bool PROVIDERS = OSSL_PROVIDER_load(nullptr, "legacy") != nullptr &&
                       OSSL_PROVIDER_load(nullptr, "default") != nullptr;

const unsigned long KEY = 0x0123456789abcdefUL;

std::vector<unsigned char> frame(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + 7);
    return v;
}

void encode_frames(benchmark::State& state, unsigned char type) {
    const auto in = frame(state.range(0));
    std::vector<unsigned char> out(in.size());
    BenchChannel ch;
    ch.set_cipher(type, KEY);
    for (auto _ : state) {
        if (ch.encode(out.data(), in.data(), static_cast<int>(in.size())) == 0)
            state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// libcrypto with the same key block and IV; each frame re-initialises the
// counter, as the channel does.
void openssl_frames(benchmark::State& state, const EVP_CIPHER* cipher, bool ecb) {
    const auto in = frame(state.range(0));
    std::vector<unsigned char> out(in.size() + 16);
    unsigned char key[16];
    memcpy(key, &KEY, 8);
    memcpy(key + 8, &KEY, 8);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!PROVIDERS || cipher == nullptr ||
        EVP_EncryptInit_ex(ctx, cipher, nullptr, key, nullptr) != 1) {
        state.SkipWithError("cipher unavailable");
        EVP_CIPHER_CTX_free(ctx);
        return;
    }
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    // DES has no counter mode in libcrypto: ECB over as many whole blocks is
    // the same block work.
    const int n = ecb ? static_cast<int>((in.size() + 7) / 8 * 8) : static_cast<int>(in.size());
    std::vector<unsigned char> src(n);
    memcpy(src.data(), in.data(), in.size());
    for (auto _ : state) {
        int len = 0;
        EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, Network::Channel::COUNTER_IV);
        EVP_EncryptUpdate(ctx, out.data(), &len, src.data(), n);
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.SetLabel("OpenSSL");
}

void BM_ChannelXor(benchmark::State& state) {
    encode_frames(state, 1);
}
void BM_ChannelXor_baseline(benchmark::State& state) {
    const auto in = frame(state.range(0));
    std::vector<unsigned char> out(in.size());
    for (auto _ : state) {
        memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.SetLabel("memcpy");
}
void BM_ChannelDes(benchmark::State& state) {
    encode_frames(state, 2);
}
void BM_ChannelDes_baseline(benchmark::State& state) {
    openssl_frames(state, EVP_des_ecb(), true);
}
void BM_ChannelAes(benchmark::State& state) {
    encode_frames(state, 3);
}
void BM_ChannelAes_baseline(benchmark::State& state) {
    openssl_frames(state, EVP_aes_128_ctr(), false);
}
void BM_ChannelSm4(benchmark::State& state) {
    encode_frames(state, 4);
}
void BM_ChannelSm4_baseline(benchmark::State& state) {
    openssl_frames(state, EVP_sm4_ctr(), false);
}

// A depth-market-data frame body (~350 bytes) and a large one.
#define FRAMES Arg(350)->Arg(4096)
BENCHMARK(BM_ChannelXor)->FRAMES;
BENCHMARK(BM_ChannelXor_baseline)->FRAMES;
BENCHMARK(BM_ChannelDes)->FRAMES;
BENCHMARK(BM_ChannelDes_baseline)->FRAMES;
BENCHMARK(BM_ChannelAes)->FRAMES;
BENCHMARK(BM_ChannelAes_baseline)->FRAMES;
BENCHMARK(BM_ChannelSm4)->FRAMES;
BENCHMARK(BM_ChannelSm4_baseline)->FRAMES;

}  // namespace

BENCHMARK_MAIN();

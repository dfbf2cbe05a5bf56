// AES-128 in CTR mode, a whole message per call from a fresh IV, against
// libcrypto doing the same (re-keyed IV and one update per message).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <vector>

#include "cipher/aes.h"

namespace {

const unsigned char kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const unsigned char kIv[16] = {0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7,
                               0xf8, 0xf9, 0xfa, 0xfb, 0xfc, 0xfd, 0xfe, 0xff};

void run_ours(benchmark::State& state, bool hardware) {
    const int len = static_cast<int>(state.range(0));
    std::vector<unsigned char> in(len, 0x5a), out(len);
    Cipher::Aes aes(kKey, 16);
    if (aes.use_hardware(hardware) != hardware) {
        state.SkipWithError("no AES instructions");
        return;
    }
    for (auto _ : state) {
        int n = 0;
        aes.encode_ctr(out.data(), n, in.data(), len, kIv, 16);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
}

void BM_Aes128Ctr(benchmark::State& state) {
    run_ours(state, true);
}

void BM_Aes128Ctr_baseline(benchmark::State& state) {
    const int len = static_cast<int>(state.range(0));
    std::vector<unsigned char> in(len, 0x5a), out(len);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_128_ctr(), nullptr, kKey, kIv);
    for (auto _ : state) {
        int n = 0;
        EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, kIv);
        EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), len);
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
    state.SetLabel("OpenSSL");
}

// The portable tables, for reference against the same baseline.
void BM_Aes128CtrPortable(benchmark::State& state) {
    run_ours(state, false);
}
void BM_Aes128CtrPortable_baseline(benchmark::State& state) {
    BM_Aes128Ctr_baseline(state);
}

BENCHMARK(BM_Aes128Ctr)->Arg(256)->Arg(8192);
BENCHMARK(BM_Aes128Ctr_baseline)->Arg(256)->Arg(8192);
BENCHMARK(BM_Aes128CtrPortable)->Arg(8192);
BENCHMARK(BM_Aes128CtrPortable_baseline)->Arg(8192);

}  // namespace

BENCHMARK_MAIN();

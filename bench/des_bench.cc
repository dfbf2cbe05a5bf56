// DES and triple DES in CTR (the channel's mode) and CBC, against libcrypto's
// DES-CBC and DES-EDE3-CBC (libcrypto has no DES counter mode).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <vector>

#include "cipher/des.h"
#include "cipher/triple_des.h"

namespace {

const unsigned char kKeys[24] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
const unsigned char kIv[8] = {0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7};

template <class F>
void run(benchmark::State& state, F f) {
    const int len = static_cast<int>(state.range(0));
    std::vector<unsigned char> in(len, 0x5a), out(len);
    for (auto _ : state) {
        f(out.data(), in.data(), len);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
}

void openssl_cbc(benchmark::State& state, const EVP_CIPHER* cipher) {
    OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER_load(nullptr, "default");
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (EVP_EncryptInit_ex(ctx, cipher, nullptr, kKeys, kIv) != 1) {
        state.SkipWithError("cipher unavailable");
        EVP_CIPHER_CTX_free(ctx);
        return;
    }
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    run(state, [&](unsigned char* out, const unsigned char* in, int len) {
        int n = 0;
        EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, kIv);
        EVP_EncryptUpdate(ctx, out, &n, in, len);
    });
    EVP_CIPHER_CTX_free(ctx);
    state.SetLabel("OpenSSL");
}

void BM_DesCtr(benchmark::State& state) {
    Cipher::Des des(kKeys);
    run(state, [&](unsigned char* out, const unsigned char* in, int len) {
        int n = 0;
        des.encode_ctr(out, n, in, len, kIv, 8);
    });
}
void BM_DesCtr_baseline(benchmark::State& state) {
    openssl_cbc(state, EVP_des_cbc());
}

void BM_DesCbc(benchmark::State& state) {
    Cipher::Des des(kKeys);
    run(state, [&](unsigned char* out, const unsigned char* in, int len) {
        int n = 0;
        des.encode_cbc(out, n, in, len, false, kIv, 8);
    });
}
void BM_DesCbc_baseline(benchmark::State& state) {
    openssl_cbc(state, EVP_des_cbc());
}

void BM_TripleDesCtr(benchmark::State& state) {
    Cipher::TripleDes des(kKeys, kKeys + 8, kKeys + 16);
    run(state, [&](unsigned char* out, const unsigned char* in, int len) {
        int n = 0;
        des.encode_ctr(out, n, in, len, kIv, 8);
    });
}
void BM_TripleDesCtr_baseline(benchmark::State& state) {
    openssl_cbc(state, EVP_des_ede3_cbc());
}

void BM_TripleDesCbc(benchmark::State& state) {
    Cipher::TripleDes des(kKeys, kKeys + 8, kKeys + 16);
    run(state, [&](unsigned char* out, const unsigned char* in, int len) {
        int n = 0;
        des.encode_cbc(out, n, in, len, false, kIv, 8);
    });
}
void BM_TripleDesCbc_baseline(benchmark::State& state) {
    openssl_cbc(state, EVP_des_ede3_cbc());
}

BENCHMARK(BM_DesCtr)->Arg(8192);
BENCHMARK(BM_DesCtr_baseline)->Arg(8192);
BENCHMARK(BM_DesCbc)->Arg(8192);
BENCHMARK(BM_DesCbc_baseline)->Arg(8192);
BENCHMARK(BM_TripleDesCtr)->Arg(8192);
BENCHMARK(BM_TripleDesCtr_baseline)->Arg(8192);
BENCHMARK(BM_TripleDesCbc)->Arg(8192);
BENCHMARK(BM_TripleDesCbc_baseline)->Arg(8192);

}  // namespace

BENCHMARK_MAIN();

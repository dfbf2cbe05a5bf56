// RSA-1024 OAEP (SHA-1) encryption of a short text, operations per second,
// against libcrypto with the same key.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstring>
#include <vector>

#include "cipher/rsa.h"

namespace {

const char kText[] = "terminal information: 192.168.0.1 00:11:22:33:44:55";

EVP_PKEY* key() {
    static EVP_PKEY* k = EVP_RSA_gen(1024);
    return k;
}

std::vector<unsigned char> bytes(const BIGNUM* bn) {
    std::vector<unsigned char> b(BN_num_bytes(bn));
    BN_bn2bin(bn, b.data());
    return b;
}

void BM_RsaOaepEncrypt1024(benchmark::State& state) {
    const RSA* r = EVP_PKEY_get0_RSA(key());
    const auto n = bytes(RSA_get0_n(r)), e = bytes(RSA_get0_e(r));
    Cipher::Rsa rsa;
    rsa.set_keys(reinterpret_cast<const char*>(n.data()), static_cast<int>(n.size()),
                 reinterpret_cast<const char*>(e.data()), static_cast<int>(e.size()), nullptr, 0);
    char out[128];
    for (auto _ : state) {
        int len = 0;
        rsa.encode_oaep(out, len, kText, sizeof kText - 1);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_RsaOaepEncrypt1024_baseline(benchmark::State& state) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key(), nullptr);
    EVP_PKEY_encrypt_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING);
    EVP_PKEY_CTX_set_rsa_oaep_md(ctx, EVP_sha1());
    unsigned char out[128];
    for (auto _ : state) {
        size_t len = sizeof out;
        EVP_PKEY_encrypt(ctx, out, &len, reinterpret_cast<const unsigned char*>(kText),
                         sizeof kText - 1);
        benchmark::DoNotOptimize(out);
    }
    EVP_PKEY_CTX_free(ctx);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("OpenSSL");
}

BENCHMARK(BM_RsaOaepEncrypt1024);
BENCHMARK(BM_RsaOaepEncrypt1024_baseline);

}  // namespace

BENCHMARK_MAIN();

// SM3 and SM4-CTR throughput and the per-connection SM2 key exchange (fresh
// key pair plus decryption of an 8-byte channel key), each beside libcrypto.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "cipher/sm2.h"
#include "cipher/sm3.h"
#include "cipher/sm4.h"

namespace {

std::vector<unsigned char> filled(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + 7);
    return v;
}

const unsigned char KEY[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                               0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
const unsigned char IV[16] = {0x80, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

void BM_Sm3(benchmark::State& state) {
    const auto data = filled(state.range(0));
    Cipher::Sm3 sm3;
    for (auto _ : state) {
        sm3.reset();
        sm3.update(data.data(), static_cast<int>(data.size()));
        sm3.final();
        benchmark::DoNotOptimize(sm3.digest);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Sm3_baseline(benchmark::State& state) {
    const auto data = filled(state.range(0));
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const EVP_MD* md = EVP_sm3();
    unsigned char digest[32];
    for (auto _ : state) {
        unsigned int len = 0;
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, data.data(), data.size());
        EVP_DigestFinal_ex(ctx, digest, &len);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.SetLabel("OpenSSL");
}

// One call per iteration on the given path, the counter restarted from the
// IV each time (as the channel does per frame).
void sm4_ctr(benchmark::State& state, Cipher::Sm4::Path path) {
    const auto data = filled(state.range(0));
    std::vector<unsigned char> out(data.size());
    Cipher::Sm4 sm4(KEY);
    if (!sm4.use_path(path)) {
        state.SkipWithError("path not on this processor");
        return;
    }
    for (auto _ : state) {
        int len = 0;
        sm4.encode_ctr(out.data(), len, data.data(), static_cast<int>(data.size()), IV, 16);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Sm4Ctr(benchmark::State& state) {
    sm4_ctr(state, Cipher::Sm4::best_path());
}

// The 512-bit path beside the 256-bit one it replaces where both run.
void BM_Sm4CtrAvx512(benchmark::State& state) {
    sm4_ctr(state, Cipher::Sm4::Path::AVX512_GFNI);
}
void BM_Sm4CtrAvx512_baseline(benchmark::State& state) {
    sm4_ctr(state, Cipher::Sm4::Path::AVX2_GFNI);
    state.SetLabel("AVX2 GFNI path");
}

// Same work per call: restart the counter from the IV, then encipher.
void BM_Sm4Ctr_baseline(benchmark::State& state) {
    const auto data = filled(state.range(0));
    std::vector<unsigned char> out(data.size());
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_sm4_ctr(), nullptr, KEY, IV);
    for (auto _ : state) {
        int len = 0;
        EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, IV);
        EVP_EncryptUpdate(ctx, out.data(), &len, data.data(), static_cast<int>(data.size()));
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.SetLabel("OpenSSL");
}

const unsigned char CHANNEL_KEY[8] = {1, 2, 3, 4, 5, 6, 7, 8};

// One key exchange: a fresh key pair, then the front's 8-byte channel key
// (encrypted to the new public key outside the timing) decrypted.
void BM_Sm2KeyExchange(benchmark::State& state) {
    Cipher::Sm2 client(true), front(true);
    unsigned char cipher[8 + 97], plain[8];
    for (auto _ : state) {
        client.gen_keys();
        state.PauseTiming();
        char x[65], y[65];
        client.get_public_key(x, y);
        front.set_public_key(x, y);
        front.gen_k();
        int len = 0;
        front.encode(cipher, len, CHANNEL_KEY, 8);
        state.ResumeTiming();
        int out_len = 0;
        if (!client.decode(plain, out_len, cipher, len) || std::memcmp(plain, CHANNEL_KEY, 8) != 0)
            state.SkipWithError("decode failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Sm2KeyExchange_baseline(benchmark::State& state) {
    std::vector<unsigned char> cipher(256);
    unsigned char plain[64];
    for (auto _ : state) {
        EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
        state.PauseTiming();
        EVP_PKEY_CTX* enc = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
        EVP_PKEY_encrypt_init(enc);
        size_t clen = cipher.size();
        EVP_PKEY_encrypt(enc, cipher.data(), &clen, CHANNEL_KEY, 8);
        EVP_PKEY_CTX_free(enc);
        state.ResumeTiming();
        EVP_PKEY_CTX* dec = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
        EVP_PKEY_decrypt_init(dec);
        size_t plen = sizeof plain;
        if (EVP_PKEY_decrypt(dec, plain, &plen, cipher.data(), clen) != 1 || plen != 8)
            state.SkipWithError("decrypt failed");
        EVP_PKEY_CTX_free(dec);
        EVP_PKEY_free(key);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("OpenSSL");
}

// The parts on their own: key generation, and decryption with a fixed key.
void BM_Sm2Decode8(benchmark::State& state) {
    Cipher::Sm2 client(false), front(false);
    client.gen_keys();
    char x[65], y[65];
    client.get_public_key(x, y);
    front.set_public_key(x, y);
    front.gen_k();
    unsigned char cipher[8 + 97], plain[8];
    int len = 0;
    front.encode(cipher, len, CHANNEL_KEY, 8);
    for (auto _ : state) {
        int out_len = 0;
        if (!client.decode(plain, out_len, cipher, len)) state.SkipWithError("decode failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Sm2Decode8_baseline(benchmark::State& state) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    EVP_PKEY_encrypt_init(ctx);
    std::vector<unsigned char> cipher(256);
    size_t clen = cipher.size();
    EVP_PKEY_encrypt(ctx, cipher.data(), &clen, CHANNEL_KEY, 8);
    EVP_PKEY_decrypt_init(ctx);
    unsigned char plain[64];
    for (auto _ : state) {
        size_t plen = sizeof plain;
        if (EVP_PKEY_decrypt(ctx, plain, &plen, cipher.data(), clen) != 1)
            state.SkipWithError("decrypt failed");
    }
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("OpenSSL");
}

void BM_Sm2GenKeys(benchmark::State& state) {
    Cipher::Sm2 client(false);
    for (auto _ : state) client.gen_keys();
    state.SetItemsProcessed(state.iterations());
}

void BM_Sm2GenKeys_baseline(benchmark::State& state) {
    for (auto _ : state) EVP_PKEY_free(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("OpenSSL");
}

BENCHMARK(BM_Sm3)->Arg(64)->Arg(8192);
BENCHMARK(BM_Sm3_baseline)->Arg(64)->Arg(8192);
// 350 bytes: a depth-market-data frame.
BENCHMARK(BM_Sm4Ctr)->Arg(16)->Arg(256)->Arg(350)->Arg(8192);
BENCHMARK(BM_Sm4Ctr_baseline)->Arg(16)->Arg(256)->Arg(350)->Arg(8192);
BENCHMARK(BM_Sm4CtrAvx512)->Arg(16)->Arg(256)->Arg(350)->Arg(8192);
BENCHMARK(BM_Sm4CtrAvx512_baseline)->Arg(16)->Arg(256)->Arg(350)->Arg(8192);
BENCHMARK(BM_Sm2KeyExchange);
BENCHMARK(BM_Sm2KeyExchange_baseline);
BENCHMARK(BM_Sm2GenKeys);
BENCHMARK(BM_Sm2GenKeys_baseline);
BENCHMARK(BM_Sm2Decode8);
BENCHMARK(BM_Sm2Decode8_baseline);

}  // namespace

BENCHMARK_MAIN();

// MD5 and SHA-1 over one message per iteration, against libcrypto.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <vector>

#include "cipher/md5.h"
#include "cipher/sha1.h"

namespace {

template <class D>
void run_ours(benchmark::State& state) {
    const int len = static_cast<int>(state.range(0));
    std::vector<unsigned char> in(len, 0x5a);
    D d;
    for (auto _ : state) {
        d.reset();
        d.update(in.data(), len);
        d.final();
        benchmark::DoNotOptimize(d.digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
}

void run_openssl(benchmark::State& state, const EVP_MD* md) {
    const int len = static_cast<int>(state.range(0));
    std::vector<unsigned char> in(len, 0x5a);
    unsigned char out[EVP_MAX_MD_SIZE];
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    for (auto _ : state) {
        unsigned int n = 0;
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, in.data(), len);
        EVP_DigestFinal_ex(ctx, out, &n);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
    state.SetLabel("OpenSSL");
}

void BM_Md5(benchmark::State& state) {
    run_ours<Cipher::Md5>(state);
}
void BM_Md5_baseline(benchmark::State& state) {
    run_openssl(state, EVP_md5());
}
void BM_Sha1(benchmark::State& state) {
    run_ours<Cipher::Sha1>(state);
}
void BM_Sha1_baseline(benchmark::State& state) {
    run_openssl(state, EVP_sha1());
}

BENCHMARK(BM_Md5)->Arg(8192);
BENCHMARK(BM_Md5_baseline)->Arg(8192);
BENCHMARK(BM_Sha1)->Arg(8192);
BENCHMARK(BM_Sha1_baseline)->Arg(8192);

}  // namespace

BENCHMARK_MAIN();

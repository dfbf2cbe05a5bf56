// Modular exponentiation with a 1024-bit odd modulus and exponent 65537 (the
// RSA public operation), beside GMP's mpz_powm.
#include <benchmark/benchmark.h>
#include <gmp.h>

#include <random>
#include <vector>

#include "cipher/mpi.h"

namespace {

using Cipher::Limb;

struct Operands {
    std::vector<Limb> base, modulus;
    Limb exponent = 65537;
    Operands() : base(16), modulus(16) {
        std::mt19937_64 rng(1024);
        for (auto& l : modulus) l = rng();
        modulus[15] |= Limb(1) << 63;
        modulus[0] |= 1;
        for (auto& l : base) l = rng();
        base[15] >>= 1;
    }
};

void BM_MpiPowerMod1024(benchmark::State& state) {
    const Operands o;
    Limb r[16];
    for (auto _ : state) {
        int rn = 0;
        Cipher::mpi_power_mod(r, rn, o.base.data(), 16, &o.exponent, 1, o.modulus.data(), 16);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_MpiPowerMod1024_baseline(benchmark::State& state) {
    const Operands o;
    mpz_t b, e, m, r;
    mpz_inits(b, e, m, r, nullptr);
    mpz_import(b, 16, -1, sizeof(Limb), 0, 0, o.base.data());
    mpz_import(m, 16, -1, sizeof(Limb), 0, 0, o.modulus.data());
    mpz_set_ui(e, 65537);
    for (auto _ : state) {
        mpz_powm(r, b, e, m);
        benchmark::DoNotOptimize(r);
    }
    mpz_clears(b, e, m, r, nullptr);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("GMP");
}

// A full-size exponent (the private-key operation) for scale.
void BM_MpiPowerMod1024FullExponent(benchmark::State& state) {
    const Operands o;
    Limb r[16];
    for (auto _ : state) {
        int rn = 0;
        Cipher::mpi_power_mod(r, rn, o.base.data(), 16, o.base.data(), 16, o.modulus.data(), 16);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_MpiPowerMod1024FullExponent_baseline(benchmark::State& state) {
    const Operands o;
    mpz_t b, m, r;
    mpz_inits(b, m, r, nullptr);
    mpz_import(b, 16, -1, sizeof(Limb), 0, 0, o.base.data());
    mpz_import(m, 16, -1, sizeof(Limb), 0, 0, o.modulus.data());
    for (auto _ : state) {
        mpz_powm(r, b, b, m);
        benchmark::DoNotOptimize(r);
    }
    mpz_clears(b, m, r, nullptr);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("GMP");
}

BENCHMARK(BM_MpiPowerMod1024);
BENCHMARK(BM_MpiPowerMod1024_baseline);
BENCHMARK(BM_MpiPowerMod1024FullExponent);
BENCHMARK(BM_MpiPowerMod1024FullExponent_baseline);

}  // namespace

BENCHMARK_MAIN();

// Random numbers and the prime test.
#include <cstring>

#include "base/random.h"
#include "cipher/mpi.h"
#include "cipher/mpi_scratch.h"

namespace Cipher {

namespace {

struct SmallPrimes {
    uint16_t p[SMALL_PRIME_COUNT];
    constexpr SmallPrimes() : p() {
        int count = 0;
        for (int c = 3; c < 5000; c += 2) {
            bool prime = true;
            for (int d = 3; d * d <= c; d += 2)
                if (c % d == 0) {
                    prime = false;
                    break;
                }
            if (prime) p[count++] = static_cast<uint16_t>(c);
        }
    }
};
constexpr SmallPrimes SMALL_PRIMES;
static_assert(SMALL_PRIMES.p[SMALL_PRIME_COUNT - 1] == 4999, "668 odd primes up to 4999");

Limb mod_small(const Limb* a, int n, Limb d) {
    unsigned __int128 rem = 0;
    for (int i = n - 1; i >= 0; --i) rem = ((rem << 64) | a[i]) % d;
    return static_cast<Limb>(rem);
}

// One Miller-Rabin round for odd n > 4999 with n - 1 = d 2^s.
bool witness_passes(const Limb* base, int nb, const Limb* n, int nn, const Limb* d, int nd, int s,
                    const Limb* n1, int nn1) {
    MpiScratch x(nn + 1), prod(2 * nn + 1);
    int xn = 0, pn = 0;
    mpi_power_mod(x.get(), xn, base, nb, d, nd, n, nn);
    if (mpi_equal_num(x.get(), xn, 1) || mpi_cmp(x.get(), xn, n1, nn1) == 0) return true;
    for (int i = 1; i < s; ++i) {
        mpi_mul(prod.get(), pn, x.get(), xn, x.get(), xn);
        mpi_mod(x.get(), xn, prod.get(), pn, n, nn);
        if (mpi_cmp(x.get(), xn, n1, nn1) == 0) return true;
        if (mpi_equal_num(x.get(), xn, 1)) return false;
    }
    return false;
}

}  // namespace

const uint16_t g_small_prime_numbers[SMALL_PRIME_COUNT] = {
#define XELMD_P(i) SMALL_PRIMES.p[i]
#define XELMD_P4(i) XELMD_P(i), XELMD_P(i + 1), XELMD_P(i + 2), XELMD_P(i + 3)
#define XELMD_P16(i) XELMD_P4(i), XELMD_P4(i + 4), XELMD_P4(i + 8), XELMD_P4(i + 12)
#define XELMD_P64(i) XELMD_P16(i), XELMD_P16(i + 16), XELMD_P16(i + 32), XELMD_P16(i + 48)
    XELMD_P64(0),   XELMD_P64(64),  XELMD_P64(128), XELMD_P64(192), XELMD_P64(256),
    XELMD_P64(320), XELMD_P64(384), XELMD_P64(448), XELMD_P64(512), XELMD_P64(576),
    XELMD_P16(640), XELMD_P4(656),  XELMD_P4(660),  XELMD_P4(664)};
#undef XELMD_P64
#undef XELMD_P16
#undef XELMD_P4
#undef XELMD_P

void mpi_gen_random(Base::Random* random, int bits, Limb* limbs, int& count) {
    if (bits <= 0) {
        count = 0;
        return;
    }
    count = (bits + 63) / 64;
    for (int i = 0; i < count; ++i) {
        const Limb high = random->next();
        const Limb low = random->next();
        limbs[i] = (high << 32) | low;
    }
    const int top_bit = (bits - 1) % 64;
    if (top_bit < 63) limbs[count - 1] &= (Limb(1) << (top_bit + 1)) - 1;
    limbs[count - 1] |= Limb(1) << top_bit;
}

bool mpi_is_prime(const Limb* limbs, int count, int rounds) {
    const int n = mpi_top(limbs, count);
    if (n == 0 || (limbs[0] & 1) == 0) return false;
    if (n == 1 && limbs[0] <= 4999) {
        int lo = 0, hi = SMALL_PRIME_COUNT - 1;
        while (lo <= hi) {
            const int mid = (lo + hi) / 2;
            if (g_small_prime_numbers[mid] == limbs[0]) return true;
            if (g_small_prime_numbers[mid] < limbs[0])
                lo = mid + 1;
            else
                hi = mid - 1;
        }
        return false;
    }
    for (int i = 0; i < SMALL_PRIME_COUNT; ++i)
        if (mod_small(limbs, n, g_small_prime_numbers[i]) == 0) return false;
    // n - 1 = d 2^s.
    MpiScratch n1(n), d(n), base(n + 1);
    int n1n = 0, dn = 0, bn = 0;
    const Limb one = 1;
    mpi_sub(n1.get(), n1n, limbs, n, &one, 1);
    int s = 0;
    mpi_shift_right(d.get(), dn, n1.get(), n1n, 0);
    while ((d[0] & 1) == 0) {
        mpi_shift_right(d.get(), dn);
        ++s;
    }
    Base::Random random(0);
    const int bits = mpi_get_bits(limbs, n);
    for (int r = 0; r < rounds; ++r) {
        // Bases of bits - 1 bits lie in [2, n - 2] since n > 4999.
        mpi_gen_random(&random, bits - 1, base.get(), bn);
        if (!witness_passes(base.get(), bn, limbs, n, d.get(), dn, s, n1.get(), n1n)) return false;
    }
    return true;
}

void mpi_gen_prime(Base::Random* random, int bits, int rounds, Limb* limbs, int& count) {
    if (bits < 2) {
        count = 0;
        return;
    }
    do {
        mpi_gen_random(random, bits, limbs, count);
        limbs[0] |= 1;
    } while (!mpi_is_prime(limbs, count, rounds));
}

}  // namespace Cipher

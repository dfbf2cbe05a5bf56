// Modular exponentiation: Montgomery for odd moduli, division otherwise.
#include <cstring>

#include "cipher/mpi.h"
#include "cipher/mpi_limbs.h"
#include "cipher/mpi_scratch.h"

namespace Cipher {

using u128 = unsigned __int128;

namespace {

inline void copy(Limb* r, int& rn, const Limb* a, int na) {
    if (na > 0 && r != a) std::memmove(r, a, sizeof(Limb) * na);
    rn = na;
}

}  // namespace

Limb mpi_mont_setup(Limb m0) {
    // Newton iteration for m0^-1 mod 2^64 (m0 odd); each step doubles the
    // correct low bits, starting from 3 (m0 * m0 = 1 mod 8).
    Limb x = m0;
    for (int i = 0; i < 5; ++i) x *= 2 - m0 * x;
    return ~x + 1;
}

namespace {

// r = t / 2^(64n) mod m for t of 2n limbs below m 2^(64n) (t is consumed):
// n rows t += u m 2^(64 i) with u chosen to clear limb i.
void mont_reduce(Limb* r, Limb* __restrict t, const Limb* m, int n, Limb minv) {
    Limb extra = 0;
    for (int i = 0; i < n; ++i) {
        const Limb c = MpiLimbs::addmul_1(t + i, m, n, t[i] * minv);
        const u128 s = u128(t[i + n]) + c + extra;
        t[i + n] = static_cast<Limb>(s);
        extra = static_cast<Limb>(s >> 64);
    }
    // The quotient is below 2m: one conditional subtraction.
    Limb* hi = t + n;
    if (extra || mpi_cmp(hi, n, m, n) >= 0)
        MpiLimbs::sub_n(r, hi, m, n, 0);
    else
        std::memcpy(r, hi, sizeof(Limb) * n);
}

}  // namespace

void mpi_mont_mul(Limb* r, const Limb* a, const Limb* b, const Limb* m, int n, Limb minv) {
    // Full product first (squares at about half the cost), then reduction.
    MpiScratch t(2 * n);
    if (a == b)
        MpiLimbs::sqr_n(t.get(), a, n);
    else
        MpiLimbs::mul_n(t.get(), a, b, n);
    mont_reduce(r, t.get(), m, n, minv);
}

namespace {

inline bool bit_of(const Limb* e, int i) {
    return (e[i / 64] >> (i % 64)) & 1;
}

// Window width for a sliding-window exponent of `bits` bits.
int window_for(int bits) {
    if (bits <= 24) return 1;
    if (bits <= 80) return 3;
    if (bits <= 240) return 4;
    if (bits <= 768) return 5;
    return 6;
}

}  // namespace

void mpi_mont_power(Limb* r, int& rn, const Limb* a, int na, const Limb* e, int ne, const Limb* m,
                    int nm) {
    nm = mpi_top(m, nm);
    ne = mpi_top(e, ne);
    const int n = nm;
    const Limb minv = mpi_mont_setup(m[0]);
    const int bits = mpi_get_bits(e, ne);
    if (bits == 0) {  // a^0 = 1 (0 modulo 1)
        r[0] = 1;
        rn = mpi_equal_num(m, n, 1) ? 0 : 1;
        return;
    }
    // rr = R^2 mod m, from dividing 2^(128n); base in Montgomery form.
    MpiScratch big(2 * n + 1), rr(n), base(n), acc(n);
    int tn = 0;
    big[2 * n] = 1;
    mpi_mod(rr.get(), tn, big.get(), 2 * n + 1, m, n);
    mpi_mod(base.get(), tn, a, na, m, n);
    mpi_mont_mul(base.get(), base.get(), rr.get(), m, n, minv);

    const int w = window_for(bits);
    // Odd powers base^1, base^3, ..., base^(2^w - 1).
    const int table_size = 1 << (w - 1);
    MpiScratch table(table_size * n), sq(n);
    std::memcpy(table.get(), base.get(), sizeof(Limb) * n);
    if (table_size > 1) {
        mpi_mont_mul(sq.get(), base.get(), base.get(), m, n, minv);
        for (int i = 1; i < table_size; ++i)
            mpi_mont_mul(table.get() + i * n, table.get() + (i - 1) * n, sq.get(), m, n, minv);
    }
    // Left to right; the first window loads its power instead of squaring 1.
    bool started = false;
    for (int i = bits - 1; i >= 0;) {
        if (!bit_of(e, i)) {
            mpi_mont_mul(acc.get(), acc.get(), acc.get(), m, n, minv);
            --i;
            continue;
        }
        // Longest window ending in a set bit, at most w bits.
        int low = i - w + 1 < 0 ? 0 : i - w + 1;
        while (!bit_of(e, low)) ++low;
        int value = 0;
        for (int j = i; j >= low; --j) {
            value = (value << 1) | (bit_of(e, j) ? 1 : 0);
            if (started) mpi_mont_mul(acc.get(), acc.get(), acc.get(), m, n, minv);
        }
        const Limb* power = table.get() + (value >> 1) * n;
        if (started)
            mpi_mont_mul(acc.get(), acc.get(), power, m, n, minv);
        else
            std::memcpy(acc.get(), power, sizeof(Limb) * n);
        started = true;
        i = low - 1;
    }
    // Leave Montgomery form: reduce acc as a 2n-limb number.
    std::memset(big.get(), 0, sizeof(Limb) * 2 * n);
    std::memcpy(big.get(), acc.get(), sizeof(Limb) * n);
    mont_reduce(r, big.get(), m, n, minv);
    rn = mpi_top(r, n);
}

void mpi_power_mod(Limb* r, int& rn, const Limb* a, int na, const Limb* e, int ne, const Limb* m,
                   int nm) {
    nm = mpi_top(m, nm);
    if (nm == 0 || mpi_equal_num(m, nm, 1)) {
        rn = 0;
        return;
    }
    if (m[0] & 1) {
        mpi_mont_power(r, rn, a, na, e, ne, m, nm);
        return;
    }
    // Even modulus: plain square and multiply with division.
    MpiScratch acc(nm), base(nm), prod(2 * nm);
    int accn = 1, basen = 0, pn = 0;
    acc[0] = 1;
    mpi_mod(base.get(), basen, a, na, m, nm);
    for (int i = mpi_get_bits(e, ne) - 1; i >= 0; --i) {
        mpi_mul(prod.get(), pn, acc.get(), accn, acc.get(), accn);
        mpi_mod(acc.get(), accn, prod.get(), pn, m, nm);
        if (bit_of(e, i)) {
            mpi_mul(prod.get(), pn, acc.get(), accn, base.get(), basen);
            mpi_mod(acc.get(), accn, prod.get(), pn, m, nm);
        }
    }
    copy(r, rn, acc.get(), accn);
}

}  // namespace Cipher

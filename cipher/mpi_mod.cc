// Modular routines: gcd, inverse, Montgomery exponentiation, square roots.
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

void mpi_gcd(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb) {
    na = mpi_top(a, na);
    nb = mpi_top(b, nb);
    const int room = (na > nb ? na : nb) + 1;
    MpiScratch x(room), y(room), t(room);
    int xn = 0, yn = 0, tn = 0;
    copy(x.get(), xn, a, na);
    copy(y.get(), yn, b, nb);
    // Euclid: (x, y) = (y, x mod y) until y is zero.
    while (yn > 0) {
        mpi_mod(t.get(), tn, x.get(), xn, y.get(), yn);
        copy(x.get(), xn, y.get(), yn);
        copy(y.get(), yn, t.get(), tn);
    }
    copy(r, rn, x.get(), xn);
}

bool mpi_inverse(Limb* r, int& rn, const Limb* a, int na, const Limb* m, int nm) {
    nm = mpi_top(m, nm);
    if (nm == 0) {
        rn = 0;
        return false;
    }
    const int room = nm + 2;
    // Extended Euclid on (m, a mod m) keeping only the coefficient of a:
    // |t0|, |t1| stay below m.
    MpiScratch r0(room), r1(room), t0(room), t1(room), q(room), prod(2 * room), tmp(2 * room);
    int r0n = 0, r1n = 0, t0n = 0, t1n = 1, qn = 0, pn = 0, tmpn = 0;
    int t0s = 0, t1s = 0, tmps = 0;
    copy(r0.get(), r0n, m, nm);
    mpi_mod(r1.get(), r1n, a, na, m, nm);
    t1[0] = 1;
    while (r1n > 0) {
        mpi_div(q.get(), qn, tmp.get(), tmpn, r0.get(), r0n, r1.get(), r1n);
        copy(r0.get(), r0n, r1.get(), r1n);
        copy(r1.get(), r1n, tmp.get(), tmpn);
        mpi_mul(prod.get(), pn, q.get(), qn, t1.get(), t1n);
        mpi_sub(tmp.get(), tmpn, tmps, t0.get(), t0n, t0s, prod.get(), pn, t1s);
        copy(t0.get(), t0n, t1.get(), t1n);
        t0s = t1s;
        copy(t1.get(), t1n, tmp.get(), tmpn);
        t1s = tmps;
    }
    if (!mpi_equal_num(r0.get(), r0n, 1)) {
        rn = 0;
        return false;
    }
    if (t0s && t0n > 0)
        mpi_sub(r, rn, m, nm, t0.get(), t0n);
    else
        copy(r, rn, t0.get(), t0n);
    if (mpi_equal_num(m, nm, 1)) rn = 0;
    return true;
}

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

void mpi_square_root(Limb* r, int& rn, const Limb* a, int na) {
    na = mpi_top(a, na);
    if (na == 0) {
        rn = 0;
        return;
    }
    // Newton from above: x = 2^ceil(bits / 2) > sqrt(a); x' = (x + a / x) / 2
    // decreases until it stops, the last value being floor(sqrt(a)).
    const int room = na + 2;
    MpiScratch x(room), q(room), s(room);
    int xn = 0, qn = 0, sn = 0;
    const int b = (mpi_get_bits(a, na) + 1) / 2;
    x[b / 64] = Limb(1) << (b % 64);
    xn = b / 64 + 1;
    for (;;) {
        mpi_div(q.get(), qn, nullptr, sn, a, na, x.get(), xn);
        mpi_add(s.get(), sn, x.get(), xn, q.get(), qn);
        mpi_shift_right(s.get(), sn);
        if (mpi_cmp(s.get(), sn, x.get(), xn) >= 0) break;
        copy(x.get(), xn, s.get(), sn);
    }
    copy(r, rn, x.get(), xn);
}

namespace {

// r = a * b mod p for a, b < p (room np).
void mul_mod(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb, const Limb* p,
             int np) {
    MpiScratch prod(na + nb + 1);
    int pn = 0;
    mpi_mul(prod.get(), pn, a, na, b, nb);
    mpi_mod(r, rn, prod.get(), pn, p, np);
}

}  // namespace

bool mpi_square_root(Limb* r, int& rn, const Limb* a, int na, const Limb* p, int np) {
    np = mpi_top(p, np);
    const int room = np + 1;
    MpiScratch x(room), e(room), t(room), one(1);
    int xn = 0, en = 0, tn = 0;
    mpi_mod(x.get(), xn, a, na, p, np);
    if (xn == 0) {
        rn = 0;
        return true;
    }
    one[0] = 1;
    // Euler's criterion: x^((p - 1) / 2) must be 1.
    mpi_sub(e.get(), en, p, np, one.get(), 1);
    mpi_shift_right(e.get(), en);
    mpi_power_mod(t.get(), tn, x.get(), xn, e.get(), en, p, np);
    if (!mpi_equal_num(t.get(), tn, 1)) {
        rn = 0;
        return false;
    }
    if ((p[0] & 3) == 3) {  // r = x^((p + 1) / 4)
        mpi_add(e.get(), en, p, np, one.get(), 1);
        mpi_shift_right(e.get(), en);
        mpi_shift_right(e.get(), en);
        mpi_power_mod(r, rn, x.get(), xn, e.get(), en, p, np);
        return true;
    }
    // Tonelli-Shanks: p - 1 = q 2^s with q odd.
    MpiScratch q(room), z(room), c(room), y(room), b(room), pm1(room);
    int qn = 0, zn = 1, cn = 0, yn = 0, bn = 0, pm1n = 0;
    mpi_sub(pm1.get(), pm1n, p, np, one.get(), 1);
    copy(q.get(), qn, pm1.get(), pm1n);
    int s = 0;
    while ((q[0] & 1) == 0) {
        mpi_shift_right(q.get(), qn);
        ++s;
    }
    // A non-residue z: the first with z^((p - 1) / 2) = p - 1. For a prime
    // the least one is small (a prime p needs every prime below 2000 to be a
    // residue to miss, about one chance in 2^300); the bound stops a
    // composite p, a caller error, from spinning.
    for (z[0] = 2;; ++z[0]) {
        if (z[0] > 2000) {
            rn = 0;
            return false;
        }
        mpi_power_mod(t.get(), tn, z.get(), zn, e.get(), en, p, np);
        if (mpi_cmp(t.get(), tn, pm1.get(), pm1n) == 0) break;
    }
    mpi_power_mod(c.get(), cn, z.get(), zn, q.get(), qn, p, np);
    mpi_power_mod(y.get(), yn, x.get(), xn, q.get(), qn, p, np);  // t = x^q
    mpi_add(q.get(), qn, q.get(), qn, one.get(), 1);
    mpi_shift_right(q.get(), qn);
    mpi_power_mod(r, rn, x.get(), xn, q.get(), qn, p, np);  // r = x^((q + 1) / 2)
    int m = s;
    while (!mpi_equal_num(y.get(), yn, 1)) {
        // Least i with y^(2^i) = 1.
        int i = 0;
        copy(t.get(), tn, y.get(), yn);
        while (!mpi_equal_num(t.get(), tn, 1)) {
            mul_mod(t.get(), tn, t.get(), tn, t.get(), tn, p, np);
            if (++i >= m) {  // only when p is not prime
                rn = 0;
                return false;
            }
        }
        copy(b.get(), bn, c.get(), cn);
        for (int j = 0; j < m - i - 1; ++j) mul_mod(b.get(), bn, b.get(), bn, b.get(), bn, p, np);
        mul_mod(r, rn, r, rn, b.get(), bn, p, np);
        mul_mod(c.get(), cn, b.get(), bn, b.get(), bn, p, np);
        mul_mod(y.get(), yn, y.get(), yn, c.get(), cn, p, np);
        m = i;
    }
    return true;
}

}  // namespace Cipher

#include "cipher/mpi.h"

#include <cstring>

#include "cipher/mpi_limbs.h"
#include "cipher/mpi_scratch.h"

namespace Cipher {

using u128 = unsigned __int128;
using namespace MpiLimbs;

namespace {

// r (na + nb limbs, all written) = a * b; no normalisation; na, nb > 0.
void school(Limb* r, const Limb* a, int na, const Limb* b, int nb) {
    std::memset(r, 0, sizeof(Limb) * (na + nb));
    for (int j = 0; j < nb; ++j) r[na + j] = addmul_1(r + j, a, na, b[j]);
}

// Adds a (n limbs) into r starting at limb 0 and propagates the carry
// through r's `room` limbs.
void add_into(Limb* r, int room, const Limb* a, int n) {
    Limb carry = add_n(r, r, a, n, 0);
    for (int i = n; carry != 0 && i < room; ++i) carry = ++r[i] == 0;
}

void sub_from(Limb* r, int room, const Limb* a, int n) {
    Limb borrow = sub_n(r, r, a, n, 0);
    for (int i = n; borrow != 0 && i < room; ++i) borrow = r[i]-- == 0;
}

void karatsuba(Limb* r, const Limb* a, const Limb* b, int n);

// r (na + nb limbs) = a * b with na >= nb > 0, by method: Karatsuba when the
// operands reach the threshold, cutting the longer one into pieces the size
// of the shorter when they are unbalanced.
void mul_any(Limb* r, const Limb* a, int na, const Limb* b, int nb, bool force_karatsuba) {
    if (nb < MPI_KARATSUBA_LIMBS && !(force_karatsuba && nb >= 2)) {
        school(r, a, na, b, nb);
        return;
    }
    if (na == nb) {
        karatsuba(r, a, b, na);
        return;
    }
    std::memset(r, 0, sizeof(Limb) * (na + nb));
    MpiScratch piece(2 * nb);
    for (int off = 0; off < na; off += nb) {
        const int len = na - off < nb ? na - off : nb;
        if (len == nb)
            karatsuba(piece.get(), a + off, b, nb);
        else
            mul_any(piece.get(), b, nb, a + off, len, force_karatsuba);
        add_into(r + off, na + nb - off, piece.get(), len + nb);
    }
}

// r (2n limbs) = a * b, both n >= 2 limbs: one Karatsuba split, the three
// half-size products by whichever method their size calls for.
void karatsuba(Limb* r, const Limb* a, const Limb* b, int n) {
    const int lo = n / 2, hi = n - lo;
    // z0 = a0 b0 in r[0..2lo), z2 = a1 b1 in r[2lo..2n).
    mul_any(r, a, lo, b, lo, false);
    mul_any(r + 2 * lo, a + lo, hi, b + lo, hi, false);
    MpiScratch sa(hi + 1), sb(hi + 1), mid(2 * hi + 2);
    // sa = a0 + a1, sb = b0 + b1.
    std::memcpy(sa.get(), a + lo, sizeof(Limb) * hi);
    std::memcpy(sb.get(), b + lo, sizeof(Limb) * hi);
    add_into(sa.get(), hi + 1, a, lo);
    add_into(sb.get(), hi + 1, b, lo);
    const int ns = (sa[hi] | sb[hi]) != 0 ? hi + 1 : hi;
    mul_any(mid.get(), sa.get(), ns, sb.get(), ns, false);
    // mid = a0 b1 + a1 b0 after removing z0 and z2; r += mid << 64 lo.
    sub_from(mid.get(), 2 * hi + 2, r, 2 * lo);
    sub_from(mid.get(), 2 * hi + 2, r + 2 * lo, 2 * hi);
    add_into(r + lo, 2 * n - lo, mid.get(), mpi_top(mid.get(), 2 * hi + 2));
}

void multiply(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb, int method) {
    na = mpi_top(a, na);
    nb = mpi_top(b, nb);
    if (na == 0 || nb == 0) {
        rn = 0;
        return;
    }
    if (na < nb) {
        const Limb* t = a;
        a = b;
        b = t;
        const int tn = na;
        na = nb;
        nb = tn;
    }
    if (method == 0)
        school(r, a, na, b, nb);
    else
        mul_any(r, a, na, b, nb, method == 2);
    rn = mpi_top(r, na + nb);
}

}  // namespace

int mpi_get_bits(const Limb* a, int n) {
    n = mpi_top(a, n);
    if (n == 0) return 0;
    return 64 * (n - 1) + 64 - __builtin_clzll(a[n - 1]);
}

void mpi_normalize(const Limb* a, int& n) {
    n = mpi_top(a, n);
}

int mpi_cmp(const Limb* a, int na, const Limb* b, int nb) {
    na = mpi_top(a, na);
    nb = mpi_top(b, nb);
    if (na != nb) return na < nb ? -1 : 1;
    for (int i = na - 1; i >= 0; --i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

bool mpi_is_zero(const Limb* a, int n) {
    return mpi_top(a, n) == 0;
}

bool mpi_equal_num(const Limb* a, int n, Limb value) {
    n = mpi_top(a, n);
    return value == 0 ? n == 0 : (n == 1 && a[0] == value);
}

void mpi_shift_left(Limb* a, int& n) {
    n = mpi_top(a, n);
    Limb carry = 0;
    for (int i = 0; i < n; ++i) {
        const Limb next = a[i] >> 63;
        a[i] = (a[i] << 1) | carry;
        carry = next;
    }
    if (carry) a[n++] = 1;
}

void mpi_shift_right(Limb* a, int& n) {
    n = mpi_top(a, n);
    for (int i = 0; i < n; ++i) a[i] = (a[i] >> 1) | (i + 1 < n ? a[i + 1] << 63 : 0);
    n = mpi_top(a, n);
}

void mpi_shift_left(Limb* r, int& rn, const Limb* a, int na, int bits) {
    na = mpi_top(a, na);
    const int limbs = bits / 64, s = bits % 64;
    if (na == 0) {
        rn = 0;
        return;
    }
    // From the top down, so r may equal a.
    r[na + limbs] = s ? a[na - 1] >> (64 - s) : 0;
    for (int i = na - 1; i > 0; --i) r[i + limbs] = s ? (a[i] << s) | (a[i - 1] >> (64 - s)) : a[i];
    r[limbs] = a[0] << s;
    for (int i = 0; i < limbs; ++i) r[i] = 0;
    rn = mpi_top(r, na + limbs + 1);
}

void mpi_shift_right(Limb* r, int& rn, const Limb* a, int na, int bits) {
    na = mpi_top(a, na);
    const int limbs = bits / 64, s = bits % 64;
    if (limbs >= na) {
        rn = 0;
        return;
    }
    const int n = na - limbs;
    for (int i = 0; i < n; ++i) {
        const Limb lo = a[i + limbs];
        const Limb hi = i + 1 < n ? a[i + 1 + limbs] : 0;
        r[i] = s ? (lo >> s) | (hi << (64 - s)) : lo;
    }
    rn = mpi_top(r, n);
}

void mpi_add(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb) {
    na = mpi_top(a, na);
    nb = mpi_top(b, nb);
    if (na < nb) {
        const Limb* t = a;
        a = b;
        b = t;
        const int tn = na;
        na = nb;
        nb = tn;
    }
    Limb carry = add_n(r, a, b, nb, 0);
    for (int i = nb; i < na; ++i) {
        const Limb v = a[i] + carry;
        carry = v < carry;
        r[i] = v;
    }
    r[na] = carry;
    rn = na + (carry ? 1 : 0);
}

void mpi_sub(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb) {
    na = mpi_top(a, na);
    nb = mpi_top(b, nb);
    Limb borrow = sub_n(r, a, b, nb, 0);
    for (int i = nb; i < na; ++i) {
        const Limb v = a[i];
        r[i] = v - borrow;
        borrow = v < borrow;
    }
    rn = mpi_top(r, na);
}

void mpi_add(Limb* r, int& rn, int& rs, const Limb* a, int na, int as, const Limb* b, int nb,
             int bs) {
    if (as == bs) {
        mpi_add(r, rn, a, na, b, nb);
        rs = as;
    } else if (mpi_cmp(a, na, b, nb) >= 0) {
        mpi_sub(r, rn, a, na, b, nb);
        rs = as;
    } else {
        mpi_sub(r, rn, b, nb, a, na);
        rs = bs;
    }
    if (rn == 0) rs = 0;
}

void mpi_sub(Limb* r, int& rn, int& rs, const Limb* a, int na, int as, const Limb* b, int nb,
             int bs) {
    mpi_add(r, rn, rs, a, na, as, b, nb, bs ^ 1);
}

void mpi_mul(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb) {
    multiply(r, rn, a, na, b, nb, 1);
}

void mpi_mul_schoolbook(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb) {
    multiply(r, rn, a, na, b, nb, 0);
}

void mpi_mul_karatsuba(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb) {
    multiply(r, rn, a, na, b, nb, 2);
}

namespace {

// Quotient and remainder by one limb.
void div_1(Limb* q, int& qn, Limb* r, int& rn, const Limb* a, int na, Limb d) {
    Limb rem = 0;
    for (int i = na - 1; i >= 0; --i) {
        const u128 cur = (u128(rem) << 64) | a[i];
        const Limb qi = static_cast<Limb>(cur / d);
        rem = static_cast<Limb>(cur - u128(qi) * d);
        if (q) q[i] = qi;
    }
    if (q) qn = mpi_top(q, na);
    if (r) {
        r[0] = rem;
        rn = rem ? 1 : 0;
    }
}

// Long division of normalised operands (Knuth's algorithm D). u has nu + 1
// limbs (top limb may be zero) and is left holding the remainder; v has nv
// >= 2 limbs with its top bit set.
void div_knuth(Limb* q, Limb* u, int nu, const Limb* v, int nv) {
    const Limb vh = v[nv - 1], vl = v[nv - 2];
    for (int j = nu - nv; j >= 0; --j) {
        const u128 num = (u128(u[j + nv]) << 64) | u[j + nv - 1];
        u128 qhat = num / vh;
        u128 rhat = num - qhat * vh;
        while (qhat >> 64 || qhat * vl > ((rhat << 64) | u[j + nv - 2])) {
            --qhat;
            rhat += vh;
            if (rhat >> 64) break;
        }
        Limb qd = static_cast<Limb>(qhat);
        const Limb borrow = submul_1(u + j, v, nv, qd);
        const Limb top_limb = u[j + nv];
        u[j + nv] = top_limb - borrow;
        if (top_limb < borrow) {  // estimate one too large: add back
            --qd;
            u[j + nv] += add_n(u + j, u + j, v, nv, 0);
        }
        if (q) q[j] = qd;
    }
}

}  // namespace

void mpi_div(Limb* q, int& qn, Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb) {
    na = mpi_top(a, na);
    nb = mpi_top(b, nb);
    if (nb == 0) {  // caller error: report zero rather than fault
        if (q) qn = 0;
        if (r) rn = 0;
        return;
    }
    if (mpi_cmp(a, na, b, nb) < 0) {
        if (r) {
            if (na > 0) std::memmove(r, a, sizeof(Limb) * na);
            rn = na;
        }
        if (q) qn = 0;
        return;
    }
    if (nb == 1) {
        div_1(q, qn, r, rn, a, na, b[0]);
        return;
    }
    const int s = __builtin_clzll(b[nb - 1]);
    MpiScratch u(na + 1), v(nb + 1);
    int un = 0, vn = 0;
    std::memcpy(u.get(), a, sizeof(Limb) * na);
    std::memcpy(v.get(), b, sizeof(Limb) * nb);
    if (s) {
        mpi_shift_left(u.get(), un, u.get(), na, s);
        mpi_shift_left(v.get(), vn, v.get(), nb, s);
    }
    MpiScratch qs(na - nb + 1);
    div_knuth(q ? qs.get() : nullptr, u.get(), na, v.get(), nb);
    if (q) {
        std::memcpy(q, qs.get(), sizeof(Limb) * (na - nb + 1));
        qn = mpi_top(q, na - nb + 1);
    }
    if (r) mpi_shift_right(r, rn, u.get(), nb, s);
}

void mpi_mod(Limb* r, int& rn, const Limb* a, int na, const Limb* m, int nm) {
    int unused = 0;
    mpi_div(nullptr, unused, r, rn, a, na, m, nm);
}

}  // namespace Cipher

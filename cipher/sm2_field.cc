#include "cipher/sm2_field.h"

#include <cstring>

namespace Cipher {

namespace {

using u128 = unsigned __int128;

// p = 2^256 - 2^224 - 2^96 + 2^64 - 1, least significant limb first.
constexpr Limb P[4] = {0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFF00000000ull, 0xFFFFFFFFFFFFFFFFull,
                       0xFFFFFFFEFFFFFFFFull};
constexpr Limb A[4] = {0xFFFFFFFFFFFFFFFCull, 0xFFFFFFFF00000000ull, 0xFFFFFFFFFFFFFFFFull,
                       0xFFFFFFFEFFFFFFFFull};
constexpr Limb GX[4] = {0x715A4589334C74C7ull, 0x8FE30BBFF2660BE1ull, 0x5F9904466A39C994ull,
                        0x32C4AE2C1F198119ull};
constexpr Limb GY[4] = {0x02DF32E52139F0A0ull, 0xD0A9877CC62A4740ull, 0x59BDCEE36B692153ull,
                        0xBC3736A2F4F6779Cull};
// R^2 mod p with R = 2^256.
constexpr Limb R2[4] = {0x0000000200000003ull, 0x00000002FFFFFFFFull, 0x0000000100000001ull,
                        0x0000000400000002ull};
constexpr Limb ONE[4] = {1, 0, 0, 0};

struct Fe {
    Limb v[4];
};

inline bool fe_is_zero(const Fe& a) {
    return (a.v[0] | a.v[1] | a.v[2] | a.v[3]) == 0;
}

// r = t - p when t (with carry limb hi) is at least p, else t.
inline void reduce_once(Fe& r, const Limb* t, Limb hi) {
    Limb d[4];
    Limb borrow = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 s = u128(t[i]) - P[i] - borrow;
        d[i] = static_cast<Limb>(s);
        borrow = static_cast<Limb>(s >> 64) & 1;
    }
    const bool use_t = hi < borrow;  // t + hi 2^256 < p
    for (int i = 0; i < 4; ++i) r.v[i] = use_t ? t[i] : d[i];
}

// Montgomery product a b / 2^256 mod p; -p^-1 mod 2^64 is 1, so each
// reduction factor is the low limb itself.
inline void fe_mul(Fe& r, const Fe& a, const Fe& b) {
    Limb t0 = 0, t1 = 0, t2 = 0, t3 = 0, t4 = 0;
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        const Limb bi = b.v[i];
        u128 c = u128(a.v[0]) * bi + t0;
        t0 = static_cast<Limb>(c);
        c = u128(a.v[1]) * bi + t1 + static_cast<Limb>(c >> 64);
        t1 = static_cast<Limb>(c);
        c = u128(a.v[2]) * bi + t2 + static_cast<Limb>(c >> 64);
        t2 = static_cast<Limb>(c);
        c = u128(a.v[3]) * bi + t3 + static_cast<Limb>(c >> 64);
        t3 = static_cast<Limb>(c);
        c = u128(t4) + static_cast<Limb>(c >> 64);
        t4 = static_cast<Limb>(c);
        const Limb t5 = static_cast<Limb>(c >> 64);
        const Limb u = t0;
        c = u128(u) * P[0] + t0;
        c = u128(u) * P[1] + t1 + static_cast<Limb>(c >> 64);
        t0 = static_cast<Limb>(c);
        c = u128(u) * P[2] + t2 + static_cast<Limb>(c >> 64);
        t1 = static_cast<Limb>(c);
        c = u128(u) * P[3] + t3 + static_cast<Limb>(c >> 64);
        t2 = static_cast<Limb>(c);
        c = u128(t4) + static_cast<Limb>(c >> 64);
        t3 = static_cast<Limb>(c);
        t4 = t5 + static_cast<Limb>(c >> 64);
    }
    const Limb t[4] = {t0, t1, t2, t3};
    reduce_once(r, t, t4);
}

inline void fe_sqr(Fe& r, const Fe& a) {
    fe_mul(r, a, a);
}

inline void fe_add(Fe& r, const Fe& a, const Fe& b) {
    Limb t[4];
    Limb carry = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 s = u128(a.v[i]) + b.v[i] + carry;
        t[i] = static_cast<Limb>(s);
        carry = static_cast<Limb>(s >> 64);
    }
    reduce_once(r, t, carry);
}

inline void fe_sub(Fe& r, const Fe& a, const Fe& b) {
    Limb t[4];
    Limb borrow = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 s = u128(a.v[i]) - b.v[i] - borrow;
        t[i] = static_cast<Limb>(s);
        borrow = static_cast<Limb>(s >> 64) & 1;
    }
    // Add p back when it went below zero.
    const Limb mask = 0 - borrow;
    Limb carry = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 s = u128(t[i]) + (P[i] & mask) + carry;
        r.v[i] = static_cast<Limb>(s);
        carry = static_cast<Limb>(s >> 64);
    }
}

void fe_from(Fe& r, const Limb* a, int an) {
    Fe t{{0, 0, 0, 0}};
    for (int i = 0; i < an && i < 4; ++i) t.v[i] = a[i];
    Fe r2;
    std::memcpy(r2.v, R2, sizeof r2.v);
    fe_mul(r, t, r2);
}

void fe_to(Limb* out, int& on, const Fe& a) {
    Fe one, t;
    std::memcpy(one.v, ONE, sizeof one.v);
    fe_mul(t, a, one);
    std::memcpy(out, t.v, sizeof t.v);
    on = 4;
    while (on > 0 && out[on - 1] == 0) --on;
}

// r = a^(p - 2) = a^-1 (Montgomery forms), by 4-bit windows.
void fe_inv(Fe& r, const Fe& a) {
    Fe table[16];
    std::memset(table[0].v, 0, sizeof table[0].v);
    fe_from(table[0], ONE, 1);
    for (int i = 1; i < 16; ++i) fe_mul(table[i], table[i - 1], a);
    const Limb e[4] = {P[0] - 2, P[1], P[2], P[3]};
    Fe acc = table[0];
    for (int i = 63; i >= 0; --i) {
        for (int s = 0; s < 4; ++s) fe_sqr(acc, acc);
        const int nibble = static_cast<int>((e[i / 16] >> (4 * (i % 16))) & 15);
        fe_mul(acc, acc, table[nibble]);
    }
    r = acc;
}

struct Point {
    Fe x, y, z;  // Jacobian, Montgomery forms; z = 0 is infinity
};

// 2P for a = -3: delta = Z^2, gamma = Y^2, beta = X gamma,
// alpha = 3 (X - delta)(X + delta).
void point_double(Point& p) {
    if (fe_is_zero(p.z)) return;
    Fe delta, gamma, beta, alpha, t, u;
    fe_sqr(delta, p.z);
    fe_sqr(gamma, p.y);
    fe_mul(beta, p.x, gamma);
    fe_sub(t, p.x, delta);
    fe_add(u, p.x, delta);
    fe_mul(alpha, t, u);
    fe_add(t, alpha, alpha);
    fe_add(alpha, alpha, t);
    fe_add(p.z, p.y, p.z);  // Z3 = (Y + Z)^2 - gamma - delta
    fe_sqr(p.z, p.z);
    fe_sub(p.z, p.z, gamma);
    fe_sub(p.z, p.z, delta);
    fe_add(beta, beta, beta);  // 4 beta
    fe_add(beta, beta, beta);
    fe_sqr(p.x, alpha);  // X3 = alpha^2 - 8 beta
    fe_sub(p.x, p.x, beta);
    fe_sub(p.x, p.x, beta);
    fe_sub(t, beta, p.x);  // Y3 = alpha (4 beta - X3) - 8 gamma^2
    fe_mul(p.y, alpha, t);
    fe_sqr(gamma, gamma);
    fe_add(gamma, gamma, gamma);
    fe_add(gamma, gamma, gamma);
    fe_add(gamma, gamma, gamma);
    fe_sub(p.y, p.y, gamma);
}

// P += Q; q_affine says Q's z is one (saves the Q-side products).
void point_add(Point& p, const Point& q, bool q_affine) {
    if (fe_is_zero(q.z)) return;
    if (fe_is_zero(p.z)) {
        p = q;
        return;
    }
    Fe z1z1, u1, u2, s1, s2, h, r, hh, v;
    fe_sqr(z1z1, p.z);
    if (q_affine) {
        u1 = p.x;
        s1 = p.y;
    } else {
        Fe z2z2;
        fe_sqr(z2z2, q.z);
        fe_mul(u1, p.x, z2z2);
        fe_mul(s1, p.y, q.z);
        fe_mul(s1, s1, z2z2);
    }
    fe_mul(u2, q.x, z1z1);
    fe_mul(s2, q.y, p.z);
    fe_mul(s2, s2, z1z1);
    fe_sub(h, u2, u1);
    fe_sub(r, s2, s1);
    if (fe_is_zero(h)) {
        if (fe_is_zero(r))
            point_double(p);
        else
            std::memset(&p.z, 0, sizeof p.z);
        return;
    }
    fe_sqr(hh, h);
    fe_mul(v, u1, hh);
    fe_mul(hh, hh, h);  // HHH
    if (!q_affine) fe_mul(p.z, p.z, q.z);
    fe_mul(p.z, p.z, h);
    fe_sqr(p.x, r);  // X3 = r^2 - HHH - 2 V
    fe_sub(p.x, p.x, hh);
    fe_sub(p.x, p.x, v);
    fe_sub(p.x, p.x, v);
    fe_sub(v, v, p.x);  // Y3 = r (V - X3) - S1 HHH
    fe_mul(p.y, r, v);
    fe_mul(s1, s1, hh);
    fe_sub(p.y, p.y, s1);
}

void to_affine(Limb* rx, int& rxn, Limb* ry, int& ryn, const Point& p) {
    if (fe_is_zero(p.z)) {
        rxn = ryn = 0;
        return;
    }
    Fe zi, zz, x, y;
    fe_inv(zi, p.z);
    fe_sqr(zz, zi);
    fe_mul(x, p.x, zz);
    fe_mul(zz, zz, zi);
    fe_mul(y, p.y, zz);
    fe_to(rx, rxn, x);
    fe_to(ry, ryn, y);
}

bool equal4(const Limb* a, int an, const Limb* b) {
    while (an > 0 && a[an - 1] == 0) --an;
    if (an > 4) return false;
    for (int i = 0; i < 4; ++i)
        if ((i < an ? a[i] : 0) != b[i]) return false;
    return true;
}

// 2^i G in affine Montgomery form for i = 0 .. 255.
struct BaseTable {
    Point doubled[256];
    BaseTable() {
        Point q;
        fe_from(q.x, GX, 4);
        fe_from(q.y, GY, 4);
        fe_from(q.z, ONE, 1);
        for (int i = 0; i < 256; ++i) {
            Limb x[4], y[4];
            int xn = 0, yn = 0;
            to_affine(x, xn, y, yn, q);
            fe_from(doubled[i].x, x, xn);
            fe_from(doubled[i].y, y, yn);
            fe_from(doubled[i].z, ONE, 1);
            point_double(q);
        }
    }
};

const BaseTable& base_table() {
    static const BaseTable table;
    return table;
}

bool bit_of(const Limb* k, int i) {
    return (k[i / 64] >> (i % 64)) & 1;
}

}  // namespace

bool Sm2Field::matches(const Limb* p, int pn, const Limb* a, int an) {
    return equal4(p, pn, P) && equal4(a, an, A);
}

bool Sm2Field::is_base(const Limb* x, int xn, const Limb* y, int yn) {
    return equal4(x, xn, GX) && equal4(y, yn, GY);
}

void Sm2Field::mul(Limb* rx, int& rxn, Limb* ry, int& ryn, const Limb* x, int xn, const Limb* y,
                   int yn, const Limb* k, int kn) {
    kn = mpi_top(k, kn);
    xn = mpi_top(x, xn);
    yn = mpi_top(y, yn);
    if (kn == 1 && k[0] == 1) {
        std::memmove(rx, x, sizeof(Limb) * xn);
        std::memmove(ry, y, sizeof(Limb) * yn);
        rxn = xn;
        ryn = yn;
        return;
    }
    if (kn == 0 || (xn == 0 && yn == 0)) {
        rxn = ryn = 0;
        return;
    }
    // Right to left: R += Q for each set bit, Q doubled at each step.
    Point r, q;
    std::memset(&r, 0, sizeof r);
    fe_from(q.x, x, xn);
    fe_from(q.y, y, yn);
    fe_from(q.z, ONE, 1);
    const int bits = 64 * (kn - 1) + 64 - __builtin_clzll(k[kn - 1]);
    for (int i = 0; i < bits; ++i) {
        if (bit_of(k, i)) point_add(r, q, i == 0);
        if (i + 1 < bits) point_double(q);
    }
    to_affine(rx, rxn, ry, ryn, r);
}

void Sm2Field::mul_base(Limb* rx, int& rxn, Limb* ry, int& ryn, const Limb* k, int kn) {
    kn = mpi_top(k, kn);
    if (kn == 1 && k[0] == 1) {
        std::memcpy(rx, GX, sizeof GX);
        std::memcpy(ry, GY, sizeof GY);
        rxn = ryn = 4;
        return;
    }
    const BaseTable& table = base_table();
    Point r;
    std::memset(&r, 0, sizeof r);
    const int bits = kn == 0 ? 0 : 64 * (kn - 1) + 64 - __builtin_clzll(k[kn - 1]);
    for (int i = 0; i < bits; ++i)
        if (bit_of(k, i)) point_add(r, table.doubled[i], true);
    to_affine(rx, rxn, ry, ryn, r);
}

}  // namespace Cipher

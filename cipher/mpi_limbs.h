#ifndef XELMD_CIPHER_MPI_LIMBS_H
#define XELMD_CIPHER_MPI_LIMBS_H

#include "cipher/mpi.h"

namespace Cipher {

// Limb-vector primitives shared by the mpi_* routines (not for other users).
namespace MpiLimbs {

using u128 = unsigned __int128;

// r[0..n) = a[0..n) + b[0..n) + carry, returns the carry out.
inline Limb add_n(Limb* r, const Limb* a, const Limb* b, int n, Limb carry) {
    for (int i = 0; i < n; ++i) {
        const u128 s = u128(a[i]) + b[i] + carry;
        r[i] = static_cast<Limb>(s);
        carry = static_cast<Limb>(s >> 64);
    }
    return carry;
}

// r[0..n) = a[0..n) - b[0..n) - borrow, returns the borrow out.
inline Limb sub_n(Limb* r, const Limb* a, const Limb* b, int n, Limb borrow) {
    for (int i = 0; i < n; ++i) {
        const Limb ai = a[i], bi = b[i];
        const Limb d = ai - bi - borrow;
        borrow = (ai < bi) | ((ai == bi) & borrow);
        r[i] = d;
    }
    return borrow;
}

// r[0..n) += a[0..n) * m, returns the carry limb. The inner step is the
// hot loop of every product and Montgomery reduction.
inline Limb addmul_1(Limb* r, const Limb* a, int n, Limb m) {
    Limb carry = 0;
#if defined(__x86_64__)
    // Four limbs per step; r[i] is added before the incoming carry, so the
    // carry's own chain is one add and one add-with-carry per limb.
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        __asm__(
            "movq 0(%[a]), %%rax\n\t"
            "mulq %[m]\n\t"
            "addq 0(%[r]), %%rax\n\t"
            "adcq $0, %%rdx\n\t"
            "addq %[c], %%rax\n\t"
            "adcq $0, %%rdx\n\t"
            "movq %%rax, 0(%[r])\n\t"
            "movq %%rdx, %[c]\n\t"
            "movq 8(%[a]), %%rax\n\t"
            "mulq %[m]\n\t"
            "addq 8(%[r]), %%rax\n\t"
            "adcq $0, %%rdx\n\t"
            "addq %[c], %%rax\n\t"
            "adcq $0, %%rdx\n\t"
            "movq %%rax, 8(%[r])\n\t"
            "movq %%rdx, %[c]\n\t"
            "movq 16(%[a]), %%rax\n\t"
            "mulq %[m]\n\t"
            "addq 16(%[r]), %%rax\n\t"
            "adcq $0, %%rdx\n\t"
            "addq %[c], %%rax\n\t"
            "adcq $0, %%rdx\n\t"
            "movq %%rax, 16(%[r])\n\t"
            "movq %%rdx, %[c]\n\t"
            "movq 24(%[a]), %%rax\n\t"
            "mulq %[m]\n\t"
            "addq 24(%[r]), %%rax\n\t"
            "adcq $0, %%rdx\n\t"
            "addq %[c], %%rax\n\t"
            "adcq $0, %%rdx\n\t"
            "movq %%rax, 24(%[r])\n\t"
            "movq %%rdx, %[c]\n\t"
            : [c] "+&r"(carry)
            : [a] "r"(a + i), [r] "r"(r + i), [m] "r"(m)
            : "rax", "rdx", "cc", "memory");
    }
    for (; i < n; ++i) {
        Limb x = a[i], hi;
        __asm__(
            "mulq %[m]\n\t"
            "addq %[r], %%rax\n\t"
            "adcq $0, %%rdx\n\t"
            "addq %[c], %%rax\n\t"
            "adcq $0, %%rdx\n\t"
            "movq %%rax, %[r]"
            : "+&a"(x), "=&d"(hi), [r] "+m"(r[i])
            : [m] "r"(m), [c] "r"(carry)
            : "cc");
        carry = hi;
    }
#else
    for (int i = 0; i < n; ++i) {
        const u128 t = u128(a[i]) * m + r[i] + carry;
        r[i] = static_cast<Limb>(t);
        carry = static_cast<Limb>(t >> 64);
    }
#endif
    return carry;
}

// r[0..n) -= a[0..n) * m, returns the borrow limb.
inline Limb submul_1(Limb* r, const Limb* a, int n, Limb m) {
    Limb borrow = 0;
    for (int i = 0; i < n; ++i) {
        const u128 t = u128(a[i]) * m + borrow;
        const Limb lo = static_cast<Limb>(t);
        borrow = static_cast<Limb>(t >> 64) + (r[i] < lo);
        r[i] -= lo;
    }
    return borrow;
}

// r (2n limbs) = a b, both n limbs.
inline void mul_n(Limb* __restrict r, const Limb* a, const Limb* b, int n) {
    for (int i = 0; i < n; ++i) r[i] = 0;
    for (int j = 0; j < n; ++j) r[n + j] = addmul_1(r + j, a, n, b[j]);
}

// r (2n limbs) = a^2: the cross products once, doubled, plus the squares.
inline void sqr_n(Limb* __restrict r, const Limb* __restrict a, int n) {
    r[0] = 0;
    r[2 * n - 1] = 0;
    for (int i = 1; i < n; ++i) r[i] = 0;
    for (int i = 0; i + 1 < n; ++i) r[i + n] = addmul_1(r + 2 * i + 1, a + i + 1, n - i - 1, a[i]);
    Limb carry = 0;
    for (int i = 0; i < 2 * n; ++i) {
        const Limb v = r[i];
        r[i] = (v << 1) | carry;
        carry = v >> 63;
    }
    carry = 0;
    for (int i = 0; i < n; ++i) {
        const u128 sq = u128(a[i]) * a[i];
        u128 s = u128(r[2 * i]) + static_cast<Limb>(sq) + carry;
        r[2 * i] = static_cast<Limb>(s);
        s = u128(r[2 * i + 1]) + static_cast<Limb>(sq >> 64) + static_cast<Limb>(s >> 64);
        r[2 * i + 1] = static_cast<Limb>(s);
        carry = static_cast<Limb>(s >> 64);
    }
}

}  // namespace MpiLimbs

}  // namespace Cipher

#endif  // XELMD_CIPHER_MPI_LIMBS_H

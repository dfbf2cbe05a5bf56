#include "cipher/mpi.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/random.h"

namespace {

using Cipher::Limb;
using Num = std::vector<Limb>;

// A GMP integer from little-endian limbs, read back as trimmed limbs or text.
struct Mpz {
    mpz_t v;
    explicit Mpz(const Num& n = Num()) {
        mpz_init(v);
        mpz_import(v, n.size(), -1, sizeof(Limb), 0, 0, n.data());
    }
    ~Mpz() { mpz_clear(v); }
    Num limbs() const {
        Num out(mpz_size(v) + 1);
        size_t count = 0;
        mpz_export(out.data(), &count, -1, sizeof(Limb), 0, 0, v);
        out.resize(count);
        return out;
    }
    std::string str(int base) const {
        std::string s(mpz_sizeinbase(v, base) + 2, '\0');
        mpz_get_str(&s[0], base, v);
        s.resize(std::strlen(s.c_str()));
        return s;
    }
};

Num trimmed(const Limb* p, int n) {
    Num out(p, p + n);
    while (!out.empty() && out.back() == 0) out.pop_back();
    return out;
}

// Operands that exercise carries: random limbs mixed with runs of all ones
// and zeros, and the occasional leading zero limb.
Num random_num(std::mt19937_64& rng, int limbs) {
    Num n(limbs);
    const int style = static_cast<int>(rng() % 5);
    for (auto& l : n) {
        l = rng();
        if (style == 1 && rng() % 2) l = ~Limb(0);
        if (style == 2 && rng() % 2) l = 0;
        if (style == 3) l >>= rng() % 64;
    }
    if (limbs == 0) return n;
    if (rng() % 8 == 0) n.back() = 0;
    if (n.back() == 0 && rng() % 2) n.back() = 1;
    return n;
}

int size_of(const Num& n) {
    return static_cast<int>(n.size());
}

// 1 to max.
int draw(std::mt19937_64& rng, int max) {
    return 1 + static_cast<int>(rng() % max);
}

// Products (schoolbook and, from 16 limbs, Karatsuba, balanced or not),
// comparisons, quotients and remainders, shifts and bit lengths.
TEST(Mpi, ArithmeticMatchesGmp) {
    std::mt19937_64 rng(1);
    for (int i = 0; i < 4000; ++i) {
        const Num a = random_num(rng, draw(rng, 64)), b = random_num(rng, draw(rng, 64));
        const int na = size_of(a), nb = size_of(b);
        Num d = b;
        if (Cipher::mpi_top(d.data(), nb) == 0) d[0] = 7;
        Mpz ma(a), mb(b), md(d), mr, mq;
        SCOPED_TRACE(ma.str(16) + " " + mb.str(16));
        Num r(na + nb + 1), q(na + 1);
        int rn = -1, qn = -1;
        mpz_mul(mr.v, ma.v, mb.v);
        Cipher::mpi_mul(r.data(), rn, a.data(), na, b.data(), nb);
        ASSERT_EQ(trimmed(r.data(), rn), mr.limbs());
        const int c = mpz_cmp(ma.v, mb.v);
        ASSERT_EQ(Cipher::mpi_cmp(a.data(), na, b.data(), nb), c > 0 ? 1 : c < 0 ? -1 : 0);
        mpz_tdiv_qr(mq.v, mr.v, ma.v, md.v);
        Cipher::mpi_div(q.data(), qn, r.data(), rn, a.data(), na, d.data(), nb);
        ASSERT_EQ(trimmed(q.data(), qn), mq.limbs());
        ASSERT_EQ(trimmed(r.data(), rn), mr.limbs());
        Cipher::mpi_mod(r.data(), rn, a.data(), na, d.data(), nb);
        ASSERT_EQ(trimmed(r.data(), rn), mr.limbs());
        const int bits = static_cast<int>(rng() % 200);
        Num s(nb + bits / 64 + 2);
        mpz_mul_2exp(mr.v, mb.v, bits);
        Cipher::mpi_shift_left(s.data(), rn, b.data(), nb, bits);
        ASSERT_EQ(trimmed(s.data(), rn), mr.limbs());
        mpz_fdiv_q_2exp(mr.v, mb.v, bits);
        Cipher::mpi_shift_right(s.data(), rn, b.data(), nb, bits);
        ASSERT_EQ(trimmed(s.data(), rn), mr.limbs());
        ASSERT_EQ(Cipher::mpi_get_bits(b.data(), nb),
                  mpz_sgn(mb.v) ? static_cast<int>(mpz_sizeinbase(mb.v, 2)) : 0);
    }
}

TEST(Mpi, ModularPowersMatchGmp) {
    std::mt19937_64 rng(5);
    for (int i = 0; i < 400; ++i) {
        const int nm = draw(rng, i < 350 ? 24 : 64);
        const int na = draw(rng, nm + 4);
        const int ne = draw(rng, i % 4 == 0 ? 64 : 4);
        const Num a = random_num(rng, na), e = random_num(rng, ne);
        Num m = random_num(rng, nm);
        if (i % 5 != 0) m[0] |= 1;  // mostly odd (Montgomery), some even
        if (Cipher::mpi_top(m.data(), nm) == 0) m[0] = 3;
        Mpz ma(a), me(e), mm(m), mr;
        mpz_powm(mr.v, ma.v, me.v, mm.v);
        Num r(nm);
        int rn = -1;
        Cipher::mpi_power_mod(r.data(), rn, a.data(), na, e.data(), ne, m.data(), nm);
        ASSERT_EQ(trimmed(r.data(), rn), mr.limbs()) << i;
    }
    const Limb three = 3, zero = 0, m = 1000003;
    Limb r = 99;
    int rn = -1;
    Cipher::mpi_power_mod(&r, rn, &three, 1, &zero, 0, &m, 1);
    EXPECT_EQ(trimmed(&r, rn), Num{1});
}

// Hex text (whole limbs, leading zeros kept) and big-endian bytes, trimmed
// and whole limbs; a null output asks for the size only.
TEST(Mpi, TextAndBytesMatchGmp) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 2000; ++i) {
        const int n = static_cast<int>(rng() % 65);
        const Num a = random_num(rng, n);
        Mpz ma(a);
        std::vector<char> text(Cipher::mpi_to_hex(a.data(), n, nullptr) + 1);
        Cipher::mpi_to_hex(a.data(), n, text.data());
        std::string gmp_hex = mpz_sgn(ma.v) ? ma.str(16) : "";
        for (char& c : gmp_hex) c = static_cast<char>(toupper(c));
        ASSERT_EQ(std::string(text.data()), std::string(16 * n - gmp_hex.size(), '0') + gmp_hex);
        Num back(n + 1);
        int bn = -1, bs = -1;
        ASSERT_TRUE(Cipher::mpi_from_hex(back.data(), bn, bs, text.data()));
        ASSERT_EQ(bn, n);
        ASSERT_EQ(trimmed(back.data(), bn), ma.limbs());

        std::vector<unsigned char> bytes(8 * n + 1);
        int length = -1;
        Cipher::mpi_to_bytes(a.data(), n, nullptr, length, false);
        ASSERT_EQ(length, 8 * n);
        Cipher::mpi_to_bytes(a.data(), n, bytes.data(), length, true);
        ASSERT_EQ(length, mpz_sgn(ma.v) ? int((mpz_sizeinbase(ma.v, 2) + 7) / 8) : 0);
        Mpz mb;
        mpz_import(mb.v, length, 1, 1, 0, 0, bytes.data());
        ASSERT_EQ(mpz_cmp(mb.v, ma.v), 0);
        Cipher::mpi_from_bytes(nullptr, bn, bytes.data(), length);
        ASSERT_EQ(bn, length ? (length + 7) / 8 : 1);
        Cipher::mpi_from_bytes(back.data(), bn, bytes.data(), length);
        ASSERT_EQ(trimmed(back.data(), bn), ma.limbs());
    }
    // A sign and prefix are read (and dropped for zero); a non-digit is refused.
    Limb v = 0;
    int count = 0, sign = 0;
    EXPECT_FALSE(Cipher::mpi_from_hex(&v, count, sign, "00000000000000G1"));
    EXPECT_TRUE(Cipher::mpi_from_hex(&v, count, sign, "-0x00000000000000ff"));
    EXPECT_TRUE(v == 255 && sign == 1);
    EXPECT_TRUE(Cipher::mpi_from_hex(&v, count, sign, "-0000000000000000"));
    EXPECT_EQ(sign, 0);
}

// Random numbers take the generator's draws high word first, with the top
// bit set.
TEST(Mpi, RandomNumbers) {
    Base::Random random(12345), check(12345);
    Limb limbs[3];
    int count = 0;
    Cipher::mpi_gen_random(&random, 130, limbs, count);
    Num expect(3);
    for (auto& e : expect) {
        const Limb hi = check.next();
        e = (hi << 32) | check.next();
    }
    expect[2] = (expect[2] & 3) | 2;
    EXPECT_EQ(Num(limbs, limbs + count), expect);
    Cipher::mpi_gen_random(&random, 64, limbs, count);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(limbs[0] >> 63, 1u);
}

}  // namespace

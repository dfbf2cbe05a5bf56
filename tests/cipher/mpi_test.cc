#include "cipher/mpi.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/random.h"
#include "cipher/mpint.h"
#include "tests/cipher/cipher_oracle.h"

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

// Products (schoolbook, Karatsuba and the choice between them), sums,
// signed and in-place differences, shifts, bit lengths, comparisons,
// quotients and remainders, greatest common divisors and inverses (the
// operands share a factor now and then).
TEST(Mpi, ArithmeticMatchesGmp) {
    const struct {
        void (*ours)(Limb*, int&, const Limb*, int, const Limb*, int);
        void (*gmp)(mpz_ptr, mpz_srcptr, mpz_srcptr);
        bool by_d;
    } binary[] = {{Cipher::mpi_mul_schoolbook, mpz_mul, false},
                  {Cipher::mpi_mul_karatsuba, mpz_mul, false},
                  {Cipher::mpi_mul, mpz_mul, false},
                  {Cipher::mpi_add, mpz_add, false},
                  {Cipher::mpi_mod, mpz_mod, true},
                  {Cipher::mpi_gcd, mpz_gcd, true}};
    std::mt19937_64 rng(1);
    for (int i = 0; i < 4000; ++i) {
        Num a = random_num(rng, draw(rng, 64)), b = random_num(rng, draw(rng, 64));
        if (i % 3 == 0) {
            Mpz f(random_num(rng, draw(rng, 3))), fa(a), fb(b);
            mpz_mul(fa.v, fa.v, f.v);
            mpz_mul(fb.v, fb.v, f.v);
            a = fa.limbs();
            b = fb.limbs();
            if (a.empty()) a = {0};
            if (b.empty()) b = {0};
        }
        const int na = size_of(a), nb = size_of(b);
        Num d = b;
        if (Cipher::mpi_is_zero(d.data(), nb)) d[0] = 7;
        Mpz ma(a), mb(b), md(d), mr, mq;
        SCOPED_TRACE(ma.str(16) + " " + mb.str(16));
        Num r(na + nb + 1), q(na + 1);
        int rn = -1, rs = -1, qn = -1;
        for (const auto& op : binary) {  // by d where b may be zero
            op.gmp(mr.v, ma.v, op.by_d ? md.v : mb.v);
            op.ours(r.data(), rn, a.data(), na, op.by_d ? d.data() : b.data(), nb);
            ASSERT_EQ(trimmed(r.data(), rn), mr.limbs()) << &op - binary;
        }
        const int c = mpz_cmp(ma.v, mb.v);
        ASSERT_EQ(Cipher::mpi_cmp(a.data(), na, b.data(), nb), c > 0 ? 1 : c < 0 ? -1 : 0);
        mpz_tdiv_qr(mq.v, mr.v, ma.v, md.v);
        Cipher::mpi_div(q.data(), qn, r.data(), rn, a.data(), na, d.data(), nb);
        ASSERT_EQ(trimmed(q.data(), qn), mq.limbs());
        ASSERT_EQ(trimmed(r.data(), rn), mr.limbs());
        const bool has = mpz_invert(mr.v, ma.v, md.v) != 0;
        ASSERT_EQ(Cipher::mpi_inverse(r.data(), rn, a.data(), na, d.data(), nb), has);
        if (has) {
            ASSERT_EQ(trimmed(r.data(), rn), mr.limbs());
        }
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
        // Signed: a - b with arbitrary signs.
        const int as = static_cast<int>(rng() % 2), bs = static_cast<int>(rng() % 2);
        Mpz sa(a), sb(b);
        if (as) mpz_neg(sa.v, sa.v);
        if (bs) mpz_neg(sb.v, sb.v);
        mpz_sub(mr.v, sa.v, sb.v);
        Cipher::mpi_sub(r.data(), rn, rs, a.data(), na, as, b.data(), nb, bs);
        ASSERT_EQ(rs, mpz_sgn(mr.v) < 0 ? 1 : 0);
        mpz_abs(mr.v, mr.v);
        ASSERT_EQ(trimmed(r.data(), rn), mr.limbs());
        // In place, aliasing the first operand.
        if (c >= 0) {
            mpz_sub(mr.v, ma.v, mb.v);
            Cipher::mpi_sub(a.data(), rn, a.data(), na, b.data(), nb);
            ASSERT_EQ(trimmed(a.data(), rn), mr.limbs());
        }
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
        if (Cipher::mpi_is_zero(m.data(), nm)) m[0] = 3;
        Mpz ma(a), me(e), mm(m), mr;
        mpz_powm(mr.v, ma.v, me.v, mm.v);
        Num r(nm);
        int rn = -1;
        Cipher::mpi_power_mod(r.data(), rn, a.data(), na, e.data(), ne, m.data(), nm);
        ASSERT_EQ(trimmed(r.data(), rn), mr.limbs()) << i;
    }
}

TEST(Mpi, SquareRootsMatchGmp) {
    std::mt19937_64 rng(6);
    for (int i = 0; i < 500; ++i) {
        const int na = draw(rng, 40);
        const Num a = random_num(rng, na);
        Mpz ma(a), mr;
        mpz_sqrt(mr.v, ma.v);
        Num r(na / 2 + 2);
        int rn = -1;
        Cipher::mpi_square_root(r.data(), rn, a.data(), na);
        ASSERT_EQ(trimmed(r.data(), rn), mr.limbs());
    }
    // Modular: primes of both residues mod 4, including p = 1 mod 16 for
    // several Tonelli-Shanks steps.
    for (int i = 0; i < 120; ++i) {
        Mpz p, x, sq, r;
        Num seed = random_num(rng, draw(rng, 6));
        seed[0] |= 1;
        Mpz ms(seed);
        mpz_mul_2exp(ms.v, ms.v, i % 3 == 0 ? 8 : 0);
        mpz_add_ui(ms.v, ms.v, 1);
        mpz_nextprime(p.v, ms.v);
        const Num pn = p.limbs(), xn = random_num(rng, size_of(pn));
        Mpz mx(xn);
        mpz_mod(mx.v, mx.v, p.v);
        mpz_mul(sq.v, mx.v, mx.v);
        mpz_mod(sq.v, sq.v, p.v);
        const Num sqn = sq.limbs();
        Num out(pn.size() + 1);
        int on = -1;
        ASSERT_TRUE(Cipher::mpi_square_root(out.data(), on, sqn.data(), size_of(sqn), pn.data(),
                                            size_of(pn)));
        Mpz got(trimmed(out.data(), on));
        mpz_mul(r.v, got.v, got.v);
        mpz_mod(r.v, r.v, p.v);
        ASSERT_EQ(mpz_cmp(r.v, sq.v), 0);
        // A non-residue is refused.
        mpz_set_ui(x.v, 2);
        while (mpz_legendre(x.v, p.v) != -1) mpz_add_ui(x.v, x.v, 1);
        const Num nr = x.limbs();
        ASSERT_FALSE(Cipher::mpi_square_root(out.data(), on, nr.data(), size_of(nr), pn.data(),
                                             size_of(pn)));
    }
}

// A composite modulus breaks the square-root contract; the routine must
// still come back.
TEST(Mpi, ModularSquareRootReturnsForCompositeModuli) {
    for (Limb m : {9ull, 15ull, 21ull, 33ull, 65ull, 561ull, 1105ull, 4097ull}) {
        for (Limb a = 0; a < 40; ++a) {
            Limb r[2];
            int rn = 0;
            if (Cipher::mpi_square_root(r, rn, &a, 1, &m, 1)) {
                const Limb got = rn ? r[0] : 0;
                EXPECT_EQ(got * got % m, a % m) << a << " mod " << m;
            }
        }
    }
}

TEST(Mpi, TextAndBytesMatchGmp) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 2000; ++i) {
        const int n = static_cast<int>(rng() % 65);
        const Num a = random_num(rng, n);
        Mpz ma(a);
        const int sign = static_cast<int>(rng() % 2);
        Num back(n + 1);
        int bn = -1, bs = -1;
        // Ours prints what GMP does and reads it back, with the sign.
        auto text_trip = [&](auto print, auto read, const std::string& expect) {
            std::vector<char> text(print(nullptr) + 1);
            print(text.data());
            ASSERT_EQ(std::string(text.data()), expect);
            ASSERT_TRUE(read(back.data(), bn, bs, text.data()));
            ASSERT_EQ(trimmed(back.data(), bn), ma.limbs());
            ASSERT_EQ(bs, sign && mpz_sgn(ma.v) ? 1 : 0);
        };
        text_trip([&](char* out) { return Cipher::mpi_to_dec(a.data(), n, sign, out); },
                  Cipher::mpi_from_dec, (sign && mpz_sgn(ma.v) ? "-" : "") + ma.str(10));
        // Hex: whole limbs, either case, with a sign and "0x" now and then.
        const bool upper = rng() % 2, prefix = rng() % 2;
        std::string gmp_hex = mpz_sgn(ma.v) ? ma.str(16) : "";
        gmp_hex = std::string(16 * n - gmp_hex.size(), '0') + gmp_hex;
        for (char& c : gmp_hex) c = static_cast<char>(upper ? toupper(c) : c);
        text_trip(
            [&](char* out) { return Cipher::mpi_to_hex(a.data(), n, sign, out, upper, prefix); },
            Cipher::mpi_from_hex, (sign ? "-" : "") + std::string(prefix ? "0x" : "") + gmp_hex);
        ASSERT_EQ(bn, n);

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
    Limb v = 0;
    int count = 0, sign = 0;
    EXPECT_FALSE(Cipher::mpi_from_hex(&v, count, sign, "00000000000000G1"));
    EXPECT_FALSE(Cipher::mpi_from_dec(&v, count, sign, "12a"));
}

TEST(Mpi, PrimeDecisionsMatchGmp) {
    std::mt19937_64 rng(8);
    int primes = 0;
    for (int i = 0; i < 3000; ++i) {
        const int n = draw(rng, i < 2500 ? 2 : 16);
        Num a = random_num(rng, n);
        a[0] |= 1;
        if (i < 500) a = {static_cast<Limb>(2 * i + 1 + (i % 7 == 0 ? 4000 : 0))};
        Mpz ma(a);
        const bool expect = mpz_probab_prime_p(ma.v, 30) != 0;
        primes += expect;
        ASSERT_EQ(Cipher::mpi_is_prime(a.data(), size_of(a), 20), expect) << ma.str(10);
    }
    EXPECT_GT(primes, 100);
    // Every odd number up to just past the small-prime table's end.
    for (Limb v = 1; v < 5010; v += 2)
        ASSERT_EQ(Cipher::mpi_is_prime(&v, 1, 10), mpz_probab_prime_p(Mpz(Num{v}).v, 30) != 0) << v;
    // Even numbers are refused outright; Carmichael numbers and a strong
    // pseudoprime to small bases.
    for (Limb c : {2ull, 4998ull, 561ull, 41041ull, 825265ull, 3215031751ull}) {
        EXPECT_FALSE(Cipher::mpi_is_prime(&c, 1, 10)) << c;
    }
}

// Random numbers take the generator's draws high word first, with the top
// bit set; generated primes have their exact size.
TEST(Mpi, RandomNumbersAndPrimes) {
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
    for (int bits : {16, 64, 100, 256}) {
        Num p(4);
        int n = 0;
        Cipher::mpi_gen_prime(&random, bits, 20, p.data(), n);
        EXPECT_EQ(Cipher::mpi_get_bits(p.data(), n), bits);
        EXPECT_NE(mpz_probab_prime_p(Mpz(trimmed(p.data(), n)).v, 30), 0) << bits;
    }
}

// MPInt's decimal text.
std::string dec(const Cipher::MPInt& v) {
    std::vector<char> s(v.to_str(nullptr, false) + 1);
    v.to_str(s.data(), false);
    return s.data();
}

// Signed decimal numbers of up to 300 digits, through MPInt and GMP.
TEST(MPInt, SignedArithmeticMatchesGmp) {
    const struct {
        void (Cipher::MPInt::*ours)(const Cipher::MPInt&);
        void (*gmp)(mpz_ptr, mpz_srcptr, mpz_srcptr);
    } ops[] = {{&Cipher::MPInt::add, mpz_add},
               {&Cipher::MPInt::sub, mpz_sub},
               {&Cipher::MPInt::mul, mpz_mul}};
    std::mt19937_64 rng(21);
    Mpz a, b, r, q;
    for (int i = 0; i < 1500; ++i) {
        std::string text[2];
        for (std::string& t : text) {
            t = std::string(rng() % 2, '-') + static_cast<char>('1' + rng() % 9);
            for (int d = static_cast<int>(rng() % 300); d > 0; --d)
                t += static_cast<char>('0' + rng() % 10);
        }
        mpz_set_str(a.v, text[0].c_str(), 10);
        mpz_set_str(b.v, text[1].c_str(), 10);
        Cipher::MPInt x, y, s, rem;
        ASSERT_TRUE(x.from_str(text[0].c_str(), false) && y.from_str(text[1].c_str(), false));
        ASSERT_EQ(dec(x), text[0]);
        const int c = mpz_cmp(a.v, b.v);
        EXPECT_EQ(x.cmp(y), c > 0 ? 1 : c < 0 ? -1 : 0);
        for (const auto& op : ops) {
            s = x;
            (s.*op.ours)(y);
            op.gmp(r.v, a.v, b.v);
            ASSERT_EQ(dec(s), r.str(10));
        }
        s = x;
        ASSERT_EQ(s.div(&y, &rem), 0);
        mpz_tdiv_qr(q.v, r.v, a.v, b.v);
        ASSERT_EQ(dec(s) + " " + dec(rem), q.str(10) + " " + r.str(10));
        const unsigned long k = rng() % 1000;
        s = x;
        s.add(k);
        mpz_add_ui(r.v, a.v, k);
        ASSERT_EQ(dec(s), r.str(10));
        s.sub(k);
        s.sub(k);
        mpz_sub_ui(r.v, a.v, k);
        ASSERT_EQ(dec(s), r.str(10));
    }
    Cipher::MPInt x(5ul), zero;
    EXPECT_EQ(x.div(&zero, nullptr), -1);
    EXPECT_EQ(x.div(nullptr, nullptr), -1);
}

TEST(MPInt, TextBytesAndShifts) {
    Cipher::MPInt v, w, zero;
    ASSERT_TRUE(v.from_str("-0x1F", true));
    char text[40];
    v.to_str(text, true);
    EXPECT_STREQ(text, "-000000000000001F");
    EXPECT_EQ(dec(v), "-31");
    EXPECT_FALSE(v.from_str("12x", false));
    EXPECT_FALSE(v.from_str("", true));
    // Zero prints as one digit in both bases.
    EXPECT_EQ(dec(zero), "0");
    EXPECT_EQ(zero.to_str(text, true), 1);
    EXPECT_STREQ(text, "0");
    for (unsigned long i = 0; i < 5; ++i) EXPECT_EQ(Cipher::g_small_mpints[i].get_uint64(), i);
    ASSERT_TRUE(v.from_str("123456789ABCDEF0123", true));
    unsigned char bytes[16];
    int length = 0, sign = -1;
    v.to_bytes(bytes, length, sign);
    EXPECT_EQ(CipherTest::to_hex(bytes, length) + " " + std::to_string(sign),
              "0123456789abcdef0123 0");
    w.from_bytes(bytes, length, 1);
    w.neg();
    EXPECT_EQ(w.cmp(v), 0);
    w.shift_left();
    w.shift_right();
    EXPECT_EQ(w.cmp(v), 0);
    w.set(-7);
    EXPECT_EQ(dec(w), "-7");
    w.abs();
    EXPECT_EQ(w.get_uint64(), 7u);
    w.add(w);
    EXPECT_EQ(w.get_uint64(), 14u);
}

TEST(MPInt, PrimesAndSafePrimes) {
    Cipher::MPInt safe(1019ul), unsafe(1021ul), big;
    EXPECT_TRUE(safe.is_safe_prime());     // 509 is prime
    EXPECT_FALSE(unsafe.is_safe_prime());  // 510 is not
    Base::Random random(5);
    big.gen_prime(&random, 192, 20);
    EXPECT_TRUE(big.is_prime(20));
    Mpz m;
    mpz_set_str(m.v, dec(big).c_str(), 10);
    EXPECT_NE(mpz_probab_prime_p(m.v, 30), 0);
    EXPECT_EQ(mpz_sizeinbase(m.v, 2), 192u);
    big.gen_random(&random, 70);
    EXPECT_EQ(big.size(), 2);
    EXPECT_EQ(big.limbs()[1] >> 5, 1u);
}

}  // namespace

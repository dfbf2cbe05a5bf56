#include "cipher/mpint.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/random.h"

namespace {

using Cipher::MPInt;

std::string dec(const MPInt& v) {
    std::vector<char> s(v.to_str(nullptr, false) + 1);
    v.to_str(s.data(), false);
    return s.data();
}

std::string gmp_dec(const mpz_t v) {
    std::string s(mpz_sizeinbase(v, 10) + 2, '\0');
    mpz_get_str(&s[0], 10, v);
    s.resize(std::strlen(s.c_str()));
    return s;
}

std::string random_dec(std::mt19937_64& rng) {
    const int digits = 1 + static_cast<int>(rng() % 300);
    std::string s = rng() % 2 ? "-" : "";
    s += static_cast<char>('1' + rng() % 9);
    for (int i = 1; i < digits; ++i) s += static_cast<char>('0' + rng() % 10);
    return s;
}

TEST(MPInt, SignedArithmeticMatchesGmp) {
    std::mt19937_64 rng(21);
    mpz_t a, b, r, q;
    mpz_inits(a, b, r, q, nullptr);
    for (int i = 0; i < 1500; ++i) {
        const std::string sa = random_dec(rng), sb = random_dec(rng);
        mpz_set_str(a, sa.c_str(), 10);
        mpz_set_str(b, sb.c_str(), 10);
        MPInt x, y;
        ASSERT_TRUE(x.from_str(sa.c_str(), false));
        ASSERT_TRUE(y.from_str(sb.c_str(), false));
        ASSERT_EQ(dec(x), sa);
        const int c = mpz_cmp(a, b);
        EXPECT_EQ(x.cmp(y), c > 0 ? 1 : c < 0 ? -1 : 0);

        MPInt s(x);
        s.add(y);
        mpz_add(r, a, b);
        ASSERT_EQ(dec(s), gmp_dec(r));
        s = x;
        s.sub(y);
        mpz_sub(r, a, b);
        ASSERT_EQ(dec(s), gmp_dec(r));
        s = x;
        s.mul(y);
        mpz_mul(r, a, b);
        ASSERT_EQ(dec(s), gmp_dec(r));
        s = x;
        MPInt rem;
        ASSERT_EQ(s.div(&y, &rem), 0);
        mpz_tdiv_qr(q, r, a, b);
        ASSERT_EQ(dec(s), gmp_dec(q));
        ASSERT_EQ(dec(rem), gmp_dec(r));
        const unsigned long k = rng() % 1000;
        s = x;
        s.add(k);
        mpz_add_ui(r, a, k);
        ASSERT_EQ(dec(s), gmp_dec(r));
        s.sub(k);
        s.sub(k);
        mpz_sub_ui(r, a, k);
        ASSERT_EQ(dec(s), gmp_dec(r));
    }
    mpz_clears(a, b, r, q, nullptr);
    MPInt x(5ul), zero;
    EXPECT_EQ(x.div(&zero, nullptr), -1);
    EXPECT_EQ(x.div(nullptr, nullptr), -1);
}

TEST(MPInt, TextBytesAndShifts) {
    MPInt v;
    ASSERT_TRUE(v.from_str("-0x1F", true));
    char text[40];
    v.to_str(text, true);
    EXPECT_STREQ(text, "-000000000000001F");
    EXPECT_EQ(dec(v), "-31");
    EXPECT_FALSE(v.from_str("12x", false));
    EXPECT_FALSE(v.from_str("", true));
    MPInt zero;  // zero prints as one digit in both bases
    EXPECT_EQ(dec(zero), "0");
    EXPECT_EQ(zero.to_str(text, true), 1);
    EXPECT_STREQ(text, "0");
    for (unsigned long i = 0; i < 5; ++i) EXPECT_EQ(Cipher::g_small_mpints[i].get_uint64(), i);

    ASSERT_TRUE(v.from_str("123456789ABCDEF0123", true));
    unsigned char bytes[16];
    int length = 0, sign = -1;
    v.to_bytes(bytes, length, sign);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(sign, 0);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[9], 0x23);
    MPInt w;
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
    MPInt p(4999ul), c(5001ul), safe(1019ul), unsafe(1021ul);
    EXPECT_TRUE(p.is_prime(10));
    EXPECT_FALSE(c.is_prime(10));
    EXPECT_TRUE(safe.is_safe_prime());     // 509 is prime
    EXPECT_FALSE(unsafe.is_safe_prime());  // 510 is not
    Base::Random random(5);
    MPInt big;
    big.gen_prime(&random, 192, 20);
    EXPECT_TRUE(big.is_prime(20));
    mpz_t m;
    mpz_init(m);
    mpz_set_str(m, dec(big).c_str(), 10);
    EXPECT_NE(mpz_probab_prime_p(m, 30), 0);
    EXPECT_EQ(mpz_sizeinbase(m, 2), 192u);
    mpz_clear(m);
    big.gen_random(&random, 70);
    EXPECT_EQ(big.size(), 2);
    EXPECT_EQ(big.limbs()[1] >> 5, 1u);
}

}  // namespace

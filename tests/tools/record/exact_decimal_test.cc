// DepthText::exact_decimal against the snprintf/strtod form it replaces: the
// same answer and the same text for edge values and millions of random ones.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "tools/record/depth_text.h"

namespace {

using Record::DepthText;

double from_bits(uint64_t bits) {
    double d;
    memcpy(&d, &bits, sizeof d);
    return d;
}

// Both forms, with a buffer of the given size; the text counts only on success.
void expect_same(double value, int size = 64) {
    char fast[64], slow[64];
    const bool a = DepthText::exact_decimal(value, fast, size);
    const bool b = DepthText::libc_exact_decimal(value, slow, size);
    ASSERT_EQ(a, b) << std::hexfloat << value << " size " << size;
    if (a) {
        ASSERT_STREQ(fast, slow) << std::hexfloat << value;
    }
}

TEST(ExactDecimal, EdgeValuesMatchTheLibcForm) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // clang-format off
    const double edges[] = {
        0.0, -0.0, 0.1, -0.1, 0.3, 1.0 / 3, 1, -1, 123456789, 3000.2, 4123.6, 0.000123,
        1e15, 1e16, 1e17, 9007199254740993.0, 9999999999999998.0, 1e15 + 0.3,
        123456789012345.67, 1e21, 1e22, 1e-5, 1e-4, 1.5e-7, 5e-324, -5e-324,
        2.2250738585072009e-308, DBL_MIN, DBL_MAX, -DBL_MAX, std::nextafter(DBL_MAX, 0.0),
        inf, -inf, nan, -nan, from_bits(0x7FF0000000000123UL)};
    // clang-format on
    for (double d : edges) expect_same(d);
    // A buffer too small for the text: both refuse.
    for (int size : {1, 2, 4, 6, 16, 17, 20, 21, 22, 23, 24}) {
        expect_same(1.0 / 3, size);
        expect_same(1.5e15 + 0.25, size);
        expect_same(-2.5e-300, size);
        expect_same(7, size);
    }
}

TEST(ExactDecimal, RandomValuesMatchTheLibcForm) {
    std::mt19937_64 rng(29);
    std::uniform_int_distribution<int> cents(-10000000, 10000000);
    std::uniform_int_distribution<int> exponent(-330, 310);
    std::uniform_real_distribution<double> unit(1.0, 10.0);
    for (int i = 0; i < 300000; ++i) {
        expect_same(from_bits(rng()));                           // any bit pattern
        expect_same(cents(rng) / 100.0);                         // prices
        expect_same(cents(rng) * 0.2);                           // ticks
        expect_same(unit(rng) * std::pow(10.0, exponent(rng)));  // every magnitude
        expect_same(std::nextafter(std::pow(10.0, exponent(rng) % 23), 0.0));
        if (HasFatalFailure()) return;
    }
}

}  // namespace

#include "base/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// Straight 64-bit modular reference for the folded reduction.
uint32_t reference_next(uint32_t s) {
    return static_cast<uint32_t>((static_cast<uint64_t>(s) * 16807) % 0x7fffffffULL);
}

TEST(Random, TenThousandthValueFromSeedOne) {
    // The published check value of the minimal standard generator.
    Base::Random r(1);
    unsigned int v = 0;
    for (int i = 0; i < 10000; ++i) v = r.next();
    EXPECT_EQ(1043618065u, v);
}

// Seeds the generator cannot use fall back to 1 (the modulus, 0 and the
// modulus after masking, 1 with the high bit); 0 takes the clock.
TEST(Random, DegenerateAndClockSeeds) {
    for (unsigned int seed : {0x7fffffffu, 0x80000000u, 0xffffffffu, 0x80000001u})
        EXPECT_EQ(16807u, Base::Random(seed).next()) << std::hex << seed;
    Base::Random r(0);
    for (int i = 0; i < 1000; ++i) {
        unsigned int v = r.next();
        EXPECT_GE(v, 1u);
        EXPECT_LE(v, 0x7ffffffeu);
    }
}

TEST(Random, FoldedReductionMatchesModuloOnManySeedsAndReseedRestarts) {
    uint32_t seeds[] = {1, 2, 16807, 0x7ffffffe, 0x7ffffffd, 0x40000000, 123456789, 2147483000};
    for (uint32_t s : seeds) {
        Base::Random r(s);
        uint32_t ref = s;
        for (int i = 0; i < 20000; ++i) {
            ref = reference_next(ref);
            ASSERT_EQ(ref, r.next()) << "seed " << s << " step " << i;
        }
        r.seed(s);  // starts the sequence again
        EXPECT_EQ(reference_next(s), r.next());
    }
}

// Count 0 leaves the array alone and 1 yields {0}; count 3 from seed 1 is
// fixed: i = 2, 16807 % 3 = 1 swaps 1 and 2; i = 1, 282475249 % 2 = 1 keeps.
// Longer orders are permutations that depend on the seed.
TEST(Shuffle, FixedSmallCasesAndPermutations) {
    unsigned int order[3] = {99};
    Base::Random::shuffle(order, 0, 5);
    EXPECT_EQ(99u, order[0]);
    Base::Random::shuffle(order, 1, 5);
    EXPECT_EQ(0u, order[0]);
    Base::Random::shuffle(order, 3, 1);
    EXPECT_EQ((std::vector<unsigned int>{0, 2, 1}), std::vector<unsigned int>(order, order + 3));
    std::vector<unsigned int> a(64), b(64);
    Base::Random::shuffle(a.data(), 64, 7);
    Base::Random::shuffle(b.data(), 64, 8);
    EXPECT_NE(a, b);
    std::sort(a.begin(), a.end());
    for (unsigned int i = 0; i < 64; ++i) EXPECT_EQ(i, a[i]);
}

}  // namespace

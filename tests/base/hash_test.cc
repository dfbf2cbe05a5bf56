#include "base/hash.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// Independent bit-at-a-time CRC-32C (reflected polynomial 0x82F63B78).
unsigned int bitwise_crc32c(const unsigned char* p, size_t n, unsigned int crc) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ ((crc & 1) ? 0x82F63B78u : 0u);
    }
    return crc;
}

// With the conventional all-ones start and final inversion the raw update
// must reproduce the published CRC-32C values: the check value of
// "123456789" from the CRC catalogue and the 32-byte vectors of RFC 3720,
// appendix B.4.
TEST(Hash, PublishedVectorsWithConventionalInversion) {
    std::string up, down;
    for (int i = 0; i < 32; ++i) {
        up += static_cast<char>(i);
        down += static_cast<char>(31 - i);
    }
    const std::pair<std::string, unsigned int> vectors[] = {
        {"123456789", 0xE3069283u},
        {std::string(32, '\0'), 0x8A9136AAu},
        {std::string(32, '\xFF'), 0x62A8AB43u},
        {up, 0x46DD794Eu},
        {down, 0x113FDB5Cu},
    };
    for (const auto& v : vectors) {
        unsigned int raw =
            Base::Hash::calc(v.first.data(), static_cast<int>(v.first.size()), 0xFFFFFFFFu);
        EXPECT_EQ(raw ^ 0xFFFFFFFFu, v.second);
    }
}

TEST(Hash, EmptyOrNegativeLengthReturnsSeed) {
    EXPECT_EQ(Base::Hash::calc("", 0, 0), 0u);
    EXPECT_EQ(Base::Hash::calc("abc", 0, 0xDEADBEEFu), 0xDEADBEEFu);
    EXPECT_EQ(Base::Hash::calc("abc", -3, 77u), 77u);
    EXPECT_EQ(Base::Hash::calc(nullptr, 0, 5u), 5u);
}

// Every length 0..300 at every alignment 0..7 with random seeds, so each
// tail combination (8/4/2/1) and unaligned loads are covered.
TEST(Hash, MatchesBitwiseReferenceOnRandomInput) {
    std::mt19937 rng(12345);
    std::vector<unsigned char> buf(320);
    for (auto& b : buf) b = static_cast<unsigned char>(rng());
    for (int len = 0; len <= 300; ++len) {
        for (int off = 0; off < 8; ++off) {
            unsigned int seed = static_cast<unsigned int>(rng());
            ASSERT_EQ(Base::Hash::calc(buf.data() + off, len, seed),
                      bitwise_crc32c(buf.data() + off, len, seed))
                << "len " << len << " offset " << off;
        }
    }
}

}  // namespace

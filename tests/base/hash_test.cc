#include "base/hash.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/hex.h"
#include "tests/test_table.h"

namespace {

// Independent bit-at-a-time CRC-32C (reflected polynomial 0x82F63B78).
unsigned int bitwise_crc32c(const unsigned char* p, size_t n, unsigned int crc) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ ((crc & 1) ? 0x82F63B78u : 0u);
    }
    return crc;
}

// The raw update with the conventional start and final inversion must give
// the published CRC-32C values.
TEST(Hash, PublishedVectorsWithConventionalInversion) {
    for (const TestTable::Row& row : TestTable::read("base/hash.data", "crc")) {
        SCOPED_TRACE(TestTable::where("base/hash.data", row));
        std::string message(row[1].size() / 2, '\0');
        ASSERT_NE(nullptr, Base::hex_to_bytes(row[1].c_str(), &message[0],
                                              static_cast<int>(message.size())));
        unsigned int raw =
            Base::Hash::calc(message.data(), static_cast<int>(message.size()), 0xFFFFFFFFu);
        EXPECT_EQ(raw ^ 0xFFFFFFFFu, std::stoul(row[2], nullptr, 16));
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

#include "cipher/sm3.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string hex(const unsigned char* p, int n) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}

std::string sm3_hex(const std::string& msg) {
    Cipher::Sm3 h;
    h.update(msg.data(), static_cast<int>(msg.size()));
    h.final();
    return hex(h.digest, 32);
}

std::vector<unsigned char> openssl_sm3(const unsigned char* p, size_t n) {
    std::vector<unsigned char> out(32);
    unsigned int len = 0;
    EXPECT_EQ(EVP_Digest(p, n, out.data(), &len, EVP_sm3(), nullptr), 1);
    return out;
}

// GB/T 32905-2016, appendix A, examples 1 and 2.
struct Vector {
    const char* message;
    const char* digest;
};
const Vector STANDARD_VECTORS[] = {
    {"abc", "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"},
    {"abcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcd",
     "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732"},
};

TEST(Sm3, ReproducesStandardExamples) {
    for (const Vector& v : STANDARD_VECTORS) EXPECT_EQ(sm3_hex(v.message), v.digest) << v.message;
}

TEST(Sm3, ResetStartsAfreshAndNonPositiveLengthsAreIgnored) {
    Cipher::Sm3 h;
    h.update("junk", 4);
    h.reset();
    h.update("ab", 2);
    h.update("zzz", 0);
    h.update("zzz", -5);
    h.update("c", 1);
    h.final();
    EXPECT_EQ(hex(h.digest, 32), STANDARD_VECTORS[0].digest);
}

// Random lengths 0..4 KiB, fed in random pieces so every buffer boundary is
// crossed (55/56/63/64-byte tails decide whether padding needs a second block).
TEST(Sm3, MatchesOpenSslOnRandomInputsAndSplits) {
    std::mt19937 rng(7);
    for (int round = 0; round < 600; ++round) {
        const int len = round < 130 ? round : static_cast<int>(rng() % 4097);
        std::vector<unsigned char> msg(len);
        for (auto& b : msg) b = static_cast<unsigned char>(rng());
        Cipher::Sm3 h;
        int done = 0;
        while (done < len) {
            const int piece = std::min<int>(len - done, static_cast<int>(rng() % 150));
            h.update(msg.data() + done, piece);
            done += piece;
        }
        h.final();
        EXPECT_EQ(hex(h.digest, 32), hex(openssl_sm3(msg.data(), len).data(), 32)) << len;
    }
}

}  // namespace

#include "base/hex.h"

#include <ctype.h>
#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <string.h>

#include <string>

namespace {

TEST(Hex, ToBytesStopsAtTheFirstNonDigit) {
    char out[4] = {};
    EXPECT_EQ(nullptr, Base::hex_to_bytes("zz", out, 1));
    EXPECT_EQ(out, Base::hex_to_bytes("0aFf", out, 2));
    EXPECT_EQ(std::string(out, 2), "\x0a\xff");
    char partial[3] = {1, 2, 3};
    EXPECT_EQ(nullptr, Base::hex_to_bytes("1234g6", partial, 3));
    EXPECT_EQ(std::string(partial, 3), "\x12\x34\x03");
    // A text shorter than asked stops at its NUL.
    EXPECT_EQ(nullptr, Base::hex_to_bytes("12", partial, 3));
    EXPECT_EQ(nullptr, Base::hex_to_bytes("123", partial, 2));
}

TEST(Hex, AgreesWithOpenSslOnAllByteValuesInBothCases) {
    unsigned char all[256];
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
    char* ref = OPENSSL_buf2hexstr(all, 256);  // "00:01:...:FF"
    std::string upper;
    for (const char* p = ref; *p; ++p)
        if (*p != ':') upper += *p;
    OPENSSL_free(ref);
    std::string lower = upper;
    for (char& c : lower) c = static_cast<char>(tolower(c));
    char out[513];
    out[512] = '.';
    Base::hex_from_bytes(out, reinterpret_cast<const char*>(all), 256, false);
    EXPECT_EQ(lower + '.', std::string(out, 513));  // no NUL written past the digits
    Base::hex_from_bytes(out, reinterpret_cast<const char*>(all), 256, true);
    EXPECT_EQ(upper, std::string(out, 512));
    char back[256];
    ASSERT_NE(nullptr, Base::hex_to_bytes(out, back, 256));
    EXPECT_EQ(0, memcmp(all, back, 256));
}

}  // namespace

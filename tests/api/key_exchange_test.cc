#include "api/key_exchange.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <cstring>
#include <string>

#include "cipher/sm2.h"
#include "tests/api/key_reference.h"

namespace {

using ApiTest::hex;
using ApiTest::reference_mask;

class KeyExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override { length_ = Api::KeyExchange::build_text(&sm2_, text_); }
    // The key sealed the way a front does it: SM2 under the text's public key.
    std::string seal(const unsigned char* plain, int n) {
        std::string x(text_ + 2, 64), y(text_ + 68, 64);
        Cipher::Sm2 front(true);
        EXPECT_TRUE(front.set_public_key(x.c_str(), y.c_str()));
        unsigned char out[256];
        int out_len = 0;
        front.encode(nullptr, out_len, plain, n);
        front.encode(out, out_len, plain, n);
        return hex(out, out_len);
    }
    int derive(const std::string& s) {
        return Api::KeyExchange::derive_key(&sm2_, text_, s.c_str(), type_, key_);
    }
    Cipher::Sm2 sm2_{true};
    char text_[Api::KeyExchange::TEXT_SIZE];
    int length_ = 0;
    unsigned char type_ = 0xEE;
    unsigned long key_ = 0;
};

TEST_F(KeyExchangeTest, TextIsTwoPrefixedCoordinatesOfAPointOnTheCurve) {
    ASSERT_EQ(length_, 132);
    EXPECT_EQ(std::string(text_, 2), "40");
    EXPECT_EQ(std::string(text_ + 66, 2), "40");
    for (int i = 0; i < 132; ++i)
        EXPECT_TRUE(isdigit(text_[i]) || (text_[i] >= 'A' && text_[i] <= 'F'));
    for (int i = 132; i < Api::KeyExchange::TEXT_SIZE; ++i) ASSERT_EQ(text_[i], 0) << i;

    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    BIGNUM *x = nullptr, *y = nullptr;
    BN_hex2bn(&x, std::string(text_ + 2, 64).c_str());
    BN_hex2bn(&y, std::string(text_ + 68, 64).c_str());
    EC_POINT* p = EC_POINT_new(group);
    ASSERT_EQ(EC_POINT_set_affine_coordinates(group, p, x, y, nullptr), 1);
    EXPECT_EQ(EC_POINT_is_on_curve(group, p, nullptr), 1);
    EC_POINT_free(p);
    BN_free(x);
    BN_free(y);
    EC_GROUP_free(group);

    // Every connection gets a fresh pair.
    char again[Api::KeyExchange::TEXT_SIZE];
    Api::KeyExchange::build_text(&sm2_, again);
    EXPECT_NE(std::string(text_, 132), std::string(again, 132));
}

TEST_F(KeyExchangeTest, MaskMatchesIndependentDigestAndCrc) {
    EXPECT_EQ(Api::KeyExchange::make_mask(text_), reference_mask(text_));
}

TEST_F(KeyExchangeTest, ShortFormIsTheMaskedLittleEndianKey) {
    EXPECT_EQ(derive("0"), 0);  // a lone zero: no cipher
    EXPECT_EQ(type_, 0xEE);
    const unsigned char bytes[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    unsigned long v = 0xEFCDAB8967452301UL;
    ASSERT_EQ(derive("B" + hex(bytes, 8)), 1);
    EXPECT_EQ(type_, 1);
    EXPECT_EQ(key_, v ^ reference_mask(text_));
    // Lower-case digits and a 17th digit give the same key; 'D' selects type 3.
    ASSERT_EQ(derive("D0123456789abcdef7"), 1);
    EXPECT_EQ(type_, 3);
    EXPECT_EQ(key_, v ^ reference_mask(text_));
}

TEST_F(KeyExchangeTest, UnusableRepliesClose) {
    const unsigned char nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::string sealed = seal(eight, 8);
    std::string tampered = sealed;
    tampered[sealed.size() - 1] = tampered[sealed.size() - 1] == '0' ? '1' : '0';
    struct Case {
        std::string reply;
        const char* why;
    } cases[] = {
        {"B01234567890123", "14 digits: a sealed key of type 18 that does not open"},
        {"", "empty"},
        {"/0123456789ABCDEF", "below '0'"},
        {"5", "no key bytes"},
        {"1" + seal(nine, 9), "sealed key of nine bytes"},
        {"1" + tampered, "check value fails"},
        {"BXY23456789ABCDEF", "short form with a non-digit"},
        {"1" + sealed.substr(0, 20) + "G" + sealed.substr(21), "sealed form with a non-digit"},
    };
    for (const Case& c : cases) EXPECT_EQ(derive(c.reply), -24) << c.why;
}

}  // namespace

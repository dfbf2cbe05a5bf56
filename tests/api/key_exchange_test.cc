// The library's key material against libcrypto: the per-connection key
// agreement and the terminal information sealed with the embedded key.
#include "api/key_exchange.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <cstring>
#include <string>

#include "api/api_info.h"
#include "cipher/sm2.h"
#include "tests/api/key_reference.h"

namespace {

using ApiTest::hex;
using ApiTest::reference_mask;

class KeyExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override { length_ = Api::KeyExchange::build_text(&sm2_, text_); }
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
    const std::string text(text_, Api::KeyExchange::TEXT_SIZE);
    EXPECT_EQ(text.substr(0, 2) + text.substr(66, 2), "4040");
    EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), 132u);
    EXPECT_EQ(text.substr(132), std::string(Api::KeyExchange::TEXT_SIZE - 132, '\0'));

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
    // (A fresh pair per connection is the loopback reply test's.)
}

TEST_F(KeyExchangeTest, RepliesGiveTheMaskedOrSealedKey) {
    EXPECT_EQ(Api::KeyExchange::make_mask(text_), reference_mask(text_));
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
    // Sealed to the text's public key, '0' + type: the little-endian key itself.
    ASSERT_EQ(derive("4" + ApiTest::seal_hex(text_, bytes, 8)), 1);
    EXPECT_EQ(type_, 4);
    EXPECT_EQ(key_, v);
}

TEST_F(KeyExchangeTest, UnusableRepliesClose) {
    const unsigned char nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::string sealed = ApiTest::seal_hex(text_, eight, 8);
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
        {"1" + ApiTest::seal_hex(text_, nine, 9), "sealed key of nine bytes"},
        {"1" + tampered, "check value fails"},
        {"BXY23456789ABCDEF", "short form with a non-digit"},
        {"1" + sealed.substr(0, 20) + "G" + sealed.substr(21), "sealed form with a non-digit"},
    };
    for (const Case& c : cases) EXPECT_EQ(derive(c.reply), -24) << c.why;
}

// The embedded public key is the test key's public half: only then does
// its private half open what the library seals.
TEST(EncryptApiInfo, PrivateKeyRecoversInitInfoAndFrontMode) {
    EVP_PKEY* key = ApiTest::load_private_key();
    ASSERT_NE(key, nullptr);
    struct Case {
        int info;
        char mode;
        const char* plain;
    } cases[] = {{12345, '0', "123450"}, {25081835, '1', "250818351"}, {-7, '0', "-70"}};
    for (const Case& c : cases) {
        char out[Api::ENCRYPTED_INFO_SIZE];
        memset(out, 'x', sizeof out);
        ASSERT_NE(Api::encrypt_api_info(out, c.info, c.mode), 0);
        std::string text(out);
        ASSERT_EQ(text.size(), 180u);  // Base64 of 133 bytes
        for (size_t i = text.size(); i < sizeof out; ++i) ASSERT_EQ(out[i], 0);
        unsigned char block[200];
        int n = EVP_DecodeBlock(block, reinterpret_cast<const unsigned char*>(out), 180);
        ASSERT_EQ(n, 135);  // EVP_DecodeBlock keeps the padding's two bytes
        EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 5), std::string("#128\0", 5));
        EXPECT_EQ(ApiTest::oaep_decrypt(key, block + 5, 128), c.plain);
    }
    EVP_PKEY_free(key);
}

}  // namespace

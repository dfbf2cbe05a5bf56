#include "api/api_info.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <string>

#include "tests/api/key_reference.h"

namespace {

using ApiTest::load_private_key;
using ApiTest::oaep_decrypt;

TEST(TerminalKey, EmbeddedPemIsThePublicHalfOfTheTestKey) {
    std::string pem = Api::g_terminal_public_key;
    EXPECT_EQ(pem.size(), 272u);
    EXPECT_EQ(pem.rfind("-----BEGIN PUBLIC KEY-----\n", 0), 0u);
    EXPECT_EQ(pem.back(), '\n');
    EVP_PKEY* key = load_private_key();
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(EVP_PKEY_get_bits(key), 1024);
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PUBKEY(bio, key);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    EXPECT_EQ(std::string(data, static_cast<size_t>(n)), pem);
    BIO_free(bio);
    EVP_PKEY_free(key);
}

TEST(EncryptApiInfo, PrivateKeyRecoversInitInfoAndFrontMode) {
    EVP_PKEY* key = load_private_key();
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
        EXPECT_EQ(oaep_decrypt(key, block + 5, 128), c.plain);
    }
    EVP_PKEY_free(key);
}

}  // namespace

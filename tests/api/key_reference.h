#ifndef XELMD_TESTS_API_KEY_REFERENCE_H
#define XELMD_TESTS_API_KEY_REFERENCE_H

// Reference pieces written independently of the library for the key
// exchange and terminal tag: a bitwise CRC-32C update (no inversions, as the
// crc32 instruction) and libcrypto's SM3; and the front's sealing of a key.
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdio>

#include <string>
#include <vector>

#include "cipher/sm2.h"

namespace ApiTest {

inline unsigned int crc32c(const unsigned char* p, int n, unsigned int seed) {
    unsigned int crc = seed;
    for (int i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0x82F63B78u & (0u - (crc & 1u)));
    }
    return crc;
}

inline std::string sm3(const std::string& msg) {
    unsigned char d[32];
    unsigned int len = 0;
    EVP_Digest(msg.data(), msg.size(), d, &len, EVP_get_digestbyname("SM3"), nullptr);
    return std::string(reinterpret_cast<char*>(d), 32);
}

// The mask of the short key form, from the first 132 bytes of the text.
inline unsigned long reference_mask(const char* text) {
    std::string d = sm3(std::string(text, 132));
    const unsigned char* u = reinterpret_cast<const unsigned char*>(d.data());
    auto le32 = [](const unsigned char* p) {
        return unsigned(p[0]) | unsigned(p[1]) << 8 | unsigned(p[2]) << 16 | unsigned(p[3]) << 24;
    };
    unsigned long h1 = crc32c(u, 16, le32(u + 16));
    unsigned long h2 = crc32c(u + 16, 16, le32(u));
    return h1 << 32 | h2;
}

inline std::string hex(const unsigned char* p, int n) {
    std::string s(2 * static_cast<size_t>(n) + 1, '\0');
    OPENSSL_buf2hexstr_ex(&s[0], s.size(), nullptr, p, static_cast<size_t>(n), '\0');
    s.pop_back();
    return s;
}

// plain sealed the way a front does it: SM2 under the public key of a
// key-exchange text ("40" X "40" Y), in hex.
inline std::string seal_hex(const char* text, const unsigned char* plain, int n) {
    Cipher::Sm2 front(true);
    if (!front.set_public_key(std::string(text + 2, 64).c_str(),
                              std::string(text + 68, 64).c_str()))
        return "<no key>";
    unsigned char out[256];
    int out_len = 0;
    front.encode(nullptr, out_len, plain, n);
    front.encode(out, out_len, plain, n);
    return hex(out, out_len);
}

// The simulator's test key, whose public half the library embeds.
inline EVP_PKEY* load_private_key() {
    FILE* f = fopen(XELMD_SOURCE_DIR "/tools/keys/terminal_rsa_private.pem", "r");
    if (!f) return nullptr;
    EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    fclose(f);
    return key;
}

inline std::string oaep_decrypt(EVP_PKEY* key, const unsigned char* in, size_t n) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    std::vector<unsigned char> out(512);
    size_t out_len = out.size();
    bool ok = EVP_PKEY_decrypt_init(ctx) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) == 1 &&
              EVP_PKEY_decrypt(ctx, out.data(), &out_len, in, n) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok ? std::string(reinterpret_cast<char*>(out.data()), out_len) : "<failed>";
}

}  // namespace ApiTest

#endif  // XELMD_TESTS_API_KEY_REFERENCE_H

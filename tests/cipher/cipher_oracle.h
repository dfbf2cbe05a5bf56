#ifndef XELMD_TESTS_CIPHER_CIPHER_ORACLE_H
#define XELMD_TESTS_CIPHER_CIPHER_ORACLE_H

// Test helpers shared by the block-cipher and digest tests: hex conversion,
// seeded random bytes and the libcrypto references for every mode and digest.
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace CipherTest {

using Bytes = std::vector<unsigned char>;

inline Bytes from_hex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string to_hex(const unsigned char* p, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string to_hex(const Bytes& b) {
    return to_hex(b.data(), b.size());
}

inline Bytes random_bytes(std::mt19937& rng, size_t n) {
    Bytes b(n);
    for (auto& c : b) c = static_cast<unsigned char>(rng());
    return b;
}

// One-shot libcrypto cipher run; pad toggles PKCS#7 padding.
inline Bytes openssl_crypt(const EVP_CIPHER* cipher, bool encrypt, const Bytes& key,
                           const unsigned char* iv, const Bytes& in, bool pad) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 64);
    int n1 = 0, n2 = 0;
    bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv, encrypt ? 1 : 0) == 1;
    EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
    ok = ok && EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())) == 1;
    ok = ok && EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return Bytes{0xde, 0xad};
    out.resize(n1 + n2);
    return out;
}

// libcrypto's digest of msg, as hex.
inline std::string openssl_digest(const EVP_MD* md, const Bytes& msg) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(msg.data(), msg.size(), out, &n, md, nullptr) != 1) return "failed";
    return to_hex(out, n);
}

// Our digest of msg fed in random pieces of 0 to 149 bytes, so every buffer
// boundary is crossed, as hex. D is a fresh digest object (update, final,
// digest).
template <typename D>
std::string digest_in_pieces(D& d, const Bytes& msg, std::mt19937& rng) {
    const int len = static_cast<int>(msg.size());
    int done = 0;
    while (done < len) {
        const int piece = std::min<int>(len - done, static_cast<int>(rng() % 150));
        d.update(msg.data() + done, piece);
        done += piece;
    }
    d.final();
    return to_hex(d.digest, sizeof d.digest);
}

// D's digest of text in one update, as hex.
template <typename D>
std::string digest_of(const std::string& text) {
    D d;
    d.update(text.data(), static_cast<int>(text.size()));
    d.final();
    return to_hex(d.digest, sizeof d.digest);
}

// D's digest of "abc" fed after junk and a reset, with updates of zero and
// negative length that must change nothing.
template <typename D>
std::string digest_after_reset() {
    D d;
    d.update("junk", 4);
    d.reset();
    d.update("ab", 2);
    d.update("zzz", 0);
    d.update("zzz", -5);
    d.update("c", 1);
    d.final();
    return to_hex(d.digest, sizeof d.digest);
}

}  // namespace CipherTest

#endif  // XELMD_TESTS_CIPHER_CIPHER_ORACLE_H

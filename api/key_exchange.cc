#include "api/key_exchange.h"

#include <cstdio>
#include <cstring>

#include "base/hash.h"
#include "base/hex.h"
#include "cipher/sm2.h"
#include "cipher/sm3.h"

namespace Api {

namespace {

unsigned long load_le(const unsigned char* p, int n) {
    unsigned long v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

// 16 hexadecimal digits of the short form: the masked key, little-endian.
int masked_key(const char* kept_text, const char* digits, unsigned long& key) {
    unsigned char bytes[8];
    if (!Base::hex_to_bytes(digits, reinterpret_cast<char*>(bytes), 8))
        return KeyExchange::CLOSE_REASON;
    key = load_le(bytes, 8) ^ KeyExchange::make_mask(kept_text);
    return 1;
}

// An SM2 ciphertext in hexadecimal that must open to exactly 8 bytes.
int sealed_key(Cipher::Sm2* sm2, const char* digits, int count, unsigned long& key) {
    unsigned char sealed[KeyExchange::TEXT_SIZE / 2];
    if (count <= 0 || !Base::hex_to_bytes(digits, reinterpret_cast<char*>(sealed), count))
        return KeyExchange::CLOSE_REASON;
    int length = 0;
    if (!sm2->decode(nullptr, length, sealed, count) || length != 8)
        return KeyExchange::CLOSE_REASON;
    unsigned char plain[8];
    if (!sm2->decode(plain, length, sealed, count) || length != 8) return KeyExchange::CLOSE_REASON;
    key = load_le(plain, 8);
    return 1;
}

}  // namespace

int KeyExchange::build_text(Cipher::Sm2* sm2, char* text) {
    sm2->gen_keys();
    char x[TEXT_SIZE], y[TEXT_SIZE];
    sm2->get_public_key(x, y);
    memset(text, 0, TEXT_SIZE);
    int length = snprintf(text, TEXT_SIZE, "%02X%s%02X%s", static_cast<unsigned>(strlen(x)), x,
                          static_cast<unsigned>(strlen(y)), y);
    return length < TEXT_SIZE ? length : TEXT_SIZE - 1;
}

unsigned long KeyExchange::make_mask(const char* kept_text) {
    Cipher::Sm3 sm3;
    sm3.update(kept_text, DIGEST_TEXT);
    sm3.final();
    const unsigned char* d = sm3.digest;
    unsigned long h1 = Base::Hash::calc(d, 16, static_cast<unsigned int>(load_le(d + 16, 4)));
    unsigned long h2 = Base::Hash::calc(d + 16, 16, static_cast<unsigned int>(load_le(d, 4)));
    return h1 << 32 | h2;
}

int KeyExchange::derive_key(Cipher::Sm2* sm2, const char* kept_text, const char* s,
                            unsigned char& type, unsigned long& key) {
    int length = static_cast<int>(strnlen(s, TEXT_SIZE));
    unsigned char c = static_cast<unsigned char>(s[0]);
    if (length == 1 && c == '0') return 0;
    if (c >= 'A' && (length - 1) / 2 == 8) {
        type = static_cast<unsigned char>(c - 'A');
        return masked_key(kept_text, s + 1, key);
    }
    if (c >= '0') {
        type = static_cast<unsigned char>(c - '0');
        return sealed_key(sm2, s + 1, (length - 1) / 2, key);
    }
    return CLOSE_REASON;
}

}  // namespace Api

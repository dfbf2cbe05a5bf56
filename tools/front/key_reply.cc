#include "tools/front/key_reply.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/hash.h"
#include "base/hex.h"
#include "cipher/sm2.h"
#include "cipher/sm3.h"

namespace Front {

namespace {

const int KEY_TEXT_LENGTH = 132;

unsigned int load_le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<unsigned int>(p[3]) << 24);
}

void key_bytes(unsigned long v, unsigned char* out) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Two hex digits giving a length, then that many characters.
const char* take_coordinate(const char* p, const char* end, char* out) {
    if (end - p < 2) return nullptr;
    char digits[3] = {p[0], p[1], 0};
    char* stop;
    long n = strtol(digits, &stop, 16);
    if (*stop != 0 || n < 1 || n > 64 || end - p - 2 < n) return nullptr;
    memcpy(out, p + 2, static_cast<size_t>(n));
    out[n] = 0;
    return p + 2 + n;
}

}  // namespace

unsigned long KeyReply::mask_of(const char* client_text) {
    unsigned char text[KEY_TEXT_LENGTH];
    memset(text, 0, sizeof text);
    size_t n = strnlen(client_text, KEY_TEXT_LENGTH);
    memcpy(text, client_text, n);
    Cipher::Sm3 sm3;
    sm3.update(text, KEY_TEXT_LENGTH);
    sm3.final();
    const unsigned char* d = sm3.digest;
    unsigned long h1 = Base::Hash::calc(d, 16, load_le32(d + 16));
    unsigned long h2 = Base::Hash::calc(d + 16, 16, load_le32(d));
    return (h1 << 32) | h2;
}

bool KeyReply::parse_public_key(const char* client_text, char* x, char* y) {
    const char* end = client_text + strnlen(client_text, TEXT_SIZE);
    const char* p = take_coordinate(client_text, end, x);
    return p != nullptr && take_coordinate(p, end, y) != nullptr;
}

bool KeyReply::build(Mode mode, int type, unsigned long key, const char* client_text, char* out) {
    memset(out, 0, TEXT_SIZE);
    if (type < 0 || type > 4) return false;
    unsigned char bytes[8];
    switch (mode) {
        case NO_CIPHER:
            out[0] = '0';
            return true;
        case UNUSABLE:
            out[0] = '!';
            return true;
        case MASKED:
            out[0] = static_cast<char>('A' + type);
            key_bytes(key ^ mask_of(client_text), bytes);
            Base::hex_from_bytes(out + 1, reinterpret_cast<const char*>(bytes), 8, true);
            return true;
        case SM2: {
            char x[65], y[65];
            Cipher::Sm2 sm2(true);
            if (!parse_public_key(client_text, x, y) || !sm2.set_public_key(x, y)) return false;
            unsigned char cipher[8 + 128];
            int length = 0;
            key_bytes(key, bytes);
            sm2.gen_k();
            sm2.encode(nullptr, length, bytes, 8);
            if (length > static_cast<int>(sizeof cipher) || 1 + 2 * length >= TEXT_SIZE)
                return false;
            sm2.encode(cipher, length, bytes, 8);
            out[0] = static_cast<char>('0' + type);
            Base::hex_from_bytes(out + 1, reinterpret_cast<const char*>(cipher), length, true);
            return true;
        }
    }
    return false;
}

const char* KeyReply::get_name(Mode mode) {
    static const char* const names[] = {"none", "masked", "sm2", "unusable"};
    return names[mode];
}

int KeyReply::mode_from_name(const char* name) {
    for (int m = NO_CIPHER; m <= SM2; ++m)
        if (strcmp(name, get_name(static_cast<Mode>(m))) == 0) return m;
    return -1;
}

}  // namespace Front

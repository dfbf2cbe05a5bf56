#include "cipher/base64.h"

#include <cstdint>

namespace Cipher {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct DecodeTable {
    uint8_t v[256];
};

// Characters outside the alphabet ("=" included) decode as 0.
constexpr DecodeTable make_decode_table() {
    DecodeTable t{};
    for (int i = 0; i < 64; ++i)
        t.v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<uint8_t>(i);
    return t;
}

constexpr DecodeTable kDecode = make_decode_table();

}  // namespace

bool Base64::encode(void* out, int& out_len, const void* in, int in_len) {
    if (in_len < 0) {
        out_len = 0;
        return false;
    }
    out_len = (in_len + 2) / 3 * 4;
    if (out == nullptr) return true;
    const unsigned char* p = static_cast<const unsigned char*>(in);
    char* o = static_cast<char*>(out);
    int i = 0;
    for (; i + 3 <= in_len; i += 3, o += 4) {
        const uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = kAlphabet[(v >> 6) & 63];
        o[3] = kAlphabet[v & 63];
    }
    const int rest = in_len - i;
    if (rest > 0) {
        const uint32_t v = (uint32_t(p[i]) << 16) | (rest == 2 ? uint32_t(p[i + 1]) << 8 : 0);
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        o[3] = '=';
    }
    return true;
}

bool Base64::decode(void* out, int& out_len, const void* in, int in_len) {
    out_len = 0;
    if (in_len < 0 || in_len % 4 != 0) return false;
    const unsigned char* p = static_cast<const unsigned char*>(in);
    int pads = 0;
    if (in_len >= 4) {
        if (p[in_len - 1] == '=') ++pads;
        if (pads == 1 && p[in_len - 2] == '=') ++pads;
    }
    const int total = in_len / 4 * 3 - pads;
    if (out != nullptr) {
        unsigned char* o = static_cast<unsigned char*>(out);
        int written = 0;
        for (int i = 0; i < in_len; i += 4) {
            const uint32_t v = (uint32_t(kDecode.v[p[i]]) << 18) |
                               (uint32_t(kDecode.v[p[i + 1]]) << 12) |
                               (uint32_t(kDecode.v[p[i + 2]]) << 6) | kDecode.v[p[i + 3]];
            // Only the last group can be short; never write past total.
            const unsigned char bytes[3] = {static_cast<unsigned char>(v >> 16),
                                            static_cast<unsigned char>(v >> 8),
                                            static_cast<unsigned char>(v)};
            for (int j = 0; j < 3 && written < total; ++j) o[written++] = bytes[j];
        }
    }
    out_len = total;
    return true;
}

}  // namespace Cipher

#include "base/hex.h"

namespace Base {

namespace {

const char LOWER_DIGITS[] = "0123456789abcdef";
const char UPPER_DIGITS[] = "0123456789ABCDEF";

int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void hex_from_bytes(char* out, const char* bytes, int count, bool upper) {
    const char* digits = upper ? UPPER_DIGITS : LOWER_DIGITS;
    for (int i = 0; i < count; ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        out[2 * i] = digits[b >> 4];
        out[2 * i + 1] = digits[b & 0x0f];
    }
}

char* hex_to_bytes(const char* hex, char* out, int count) {
    for (int i = 0; i < count; ++i) {
        int high = digit_value(hex[2 * i]);
        if (high < 0) return nullptr;
        int low = digit_value(hex[2 * i + 1]);
        if (low < 0) return nullptr;
        out[i] = static_cast<char>(high << 4 | low);
    }
    return out;
}

void hex_output(const unsigned char* bytes, int count, bool upper, FILE* stream) {
    const char* digits = upper ? UPPER_DIGITS : LOWER_DIGITS;
    for (int i = 0; i < count; ++i) {
        fputc(digits[bytes[i] >> 4], stream);
        fputc(digits[bytes[i] & 0x0f], stream);
    }
}

}  // namespace Base

#include "base/vint.h"

namespace Base {

unsigned int VInt::encode_zigzag32(int value) {
    return (static_cast<unsigned int>(value) << 1) ^ static_cast<unsigned int>(value >> 31);
}

unsigned long VInt::encode_zigzag64(long value) {
    return (static_cast<unsigned long>(value) << 1) ^ static_cast<unsigned long>(value >> 63);
}

int VInt::decode_zigzag32(unsigned int value) {
    return static_cast<int>((value >> 1) ^ (0u - (value & 1u)));
}

long VInt::decode_zigzag64(unsigned long value) {
    return static_cast<long>((value >> 1) ^ (0ul - (value & 1ul)));
}

namespace {

// Groups least significant first into out; returns the count.
int encode_groups(unsigned long value, unsigned char* out) {
    int n = 0;
    do {
        out[n++] = static_cast<unsigned char>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    return n;
}

// Sets the continuation bits and, for the big form, reverses the groups.
int finish(unsigned char* out, int n, bool little) {
    if (!little) {
        for (int i = 0, j = n - 1; i < j; ++i, --j) {
            unsigned char t = out[i];
            out[i] = out[j];
            out[j] = t;
        }
    }
    for (int i = 0; i < n - 1; ++i) out[i] |= 0x80;
    return n;
}

unsigned long decode_groups(const unsigned char* in, int bytes, bool little) {
    unsigned long value = 0;
    for (int i = 0; i < bytes; ++i) {
        unsigned long group = in[little ? i : bytes - 1 - i] & 0x7F;
        int shift = 7 * i;
        if (shift < 64) value |= group << shift;
    }
    return value;
}

}  // namespace

int VInt::encode_vint32(unsigned int value, unsigned char* out, bool little) {
    return finish(out, encode_groups(value, out), little);
}

int VInt::encode_vint64(unsigned long value, unsigned char* out, bool little) {
    if (value <= 0xFFFFFFFFul) return encode_vint32(static_cast<unsigned int>(value), out, little);
    return finish(out, encode_groups(value, out), little);
}

int VInt::get_bytes_num(const unsigned char* in, int length) {
    for (int i = 0; i < length; ++i) {
        if ((in[i] & 0x80) == 0) return i + 1;
    }
    return 0;
}

unsigned int VInt::decode_vint32(const unsigned char* in, int bytes, bool little) {
    return static_cast<unsigned int>(decode_groups(in, bytes, little));
}

unsigned long VInt::decode_vint64(const unsigned char* in, int bytes, bool little) {
    return decode_groups(in, bytes, little);
}

}  // namespace Base

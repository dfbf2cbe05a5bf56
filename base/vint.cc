#include "base/vint.h"

namespace Base {

int VInt::encode_vint64(unsigned long value, unsigned char* out) {
    int n = 0;
    while (value > 0x7F) {
        out[n++] = static_cast<unsigned char>(value | 0x80);
        value >>= 7;
    }
    out[n++] = static_cast<unsigned char>(value);
    return n;
}

int VInt::get_bytes_num(const unsigned char* in, int length) {
    for (int i = 0; i < length; ++i) {
        if ((in[i] & 0x80) == 0) return i + 1;
    }
    return 0;
}

unsigned long VInt::decode_vint64(const unsigned char* in, int bytes) {
    unsigned long value = 0;
    for (int i = 0; i < bytes; ++i) {
        int shift = 7 * i;
        if (shift < 64) value |= static_cast<unsigned long>(in[i] & 0x7F) << shift;
    }
    return value;
}

}  // namespace Base

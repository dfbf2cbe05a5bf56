// Hexadecimal and byte forms.
#include <cstring>

#include "cipher/mpi.h"
#include "cipher/mpi_scratch.h"

namespace Cipher {

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int mpi_to_hex(const Limb* limbs, int count, char* out) {
    if (count < 0) count = 0;
    const int length = 16 * count;
    if (out == nullptr) return length;
    char* p = out;
    for (int i = count - 1; i >= 0; --i)
        for (int shift = 60; shift >= 0; shift -= 4)
            *p++ = "0123456789ABCDEF"[(limbs[i] >> shift) & 15];
    *p = '\0';
    return length;
}

bool mpi_from_hex(Limb* limbs, int& count, int& sign, const char* text) {
    sign = 0;
    if (*text == '-') {
        sign = 1;
        ++text;
    }
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    count = static_cast<int>(std::strlen(text) / 16);
    if (limbs == nullptr) return true;
    bool ok = true;
    for (int i = 0; i < count; ++i) {
        Limb v = 0;
        for (int k = 0; k < 16; ++k) {
            const int d = hex_value(text[16 * i + k]);
            if (d < 0) ok = false;
            v = (v << 4) | static_cast<Limb>(d < 0 ? 0 : d);
        }
        limbs[count - 1 - i] = v;
    }
    if (mpi_top(limbs, count) == 0) sign = 0;
    return ok;
}

void mpi_to_bytes(const Limb* limbs, int count, unsigned char* out, int& length, bool trim) {
    if (count < 0) count = 0;
    int skip = 0;
    if (trim) {
        const int bits = mpi_get_bits(limbs, count);
        skip = 8 * count - (bits + 7) / 8;
    }
    length = 8 * count - skip;
    if (out == nullptr) return;
    for (int i = 0; i < length; ++i) {
        const int pos = length - 1 - i;  // byte position from the least significant
        out[i] = static_cast<unsigned char>(limbs[pos / 8] >> (8 * (pos % 8)));
    }
}

void mpi_from_bytes(Limb* limbs, int& count, const unsigned char* in, int length) {
    count = (length - 1) / 8 + 1;
    if (limbs == nullptr) return;
    for (int i = 0; i < count; ++i) limbs[i] = 0;
    for (int i = 0; i < length; ++i) {
        const int pos = length - 1 - i;
        limbs[pos / 8] |= static_cast<Limb>(in[i]) << (8 * (pos % 8));
    }
}

}  // namespace Cipher

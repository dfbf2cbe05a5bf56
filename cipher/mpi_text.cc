// Hexadecimal, decimal and byte forms.
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

constexpr Limb TEN19 = 10000000000000000000ull;

}  // namespace

int mpi_to_hex(const Limb* limbs, int count, int sign, char* out, bool upper, bool prefix) {
    if (count < 0) count = 0;
    const int length = 16 * count + (sign == 1 ? 1 : 0) + (prefix ? 2 : 0);
    if (out == nullptr) return length;
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char* p = out;
    if (sign == 1) *p++ = '-';
    if (prefix) {
        *p++ = '0';
        *p++ = 'x';
    }
    for (int i = count - 1; i >= 0; --i)
        for (int shift = 60; shift >= 0; shift -= 4) *p++ = digits[(limbs[i] >> shift) & 15];
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

int mpi_to_dec(const Limb* limbs, int count, int sign, char* out) {
    int n = mpi_top(limbs, count);
    // Chunks of 19 digits, least significant first, by repeated division.
    MpiScratch work(n + 1), chunks(n * 20 / 19 + 2);
    if (n > 0) std::memcpy(work.get(), limbs, sizeof(Limb) * n);
    int nc = 0;
    while (n > 0) {
        unsigned __int128 rem = 0;
        for (int i = n - 1; i >= 0; --i) {
            const unsigned __int128 cur = (rem << 64) | work[i];
            work[i] = static_cast<Limb>(cur / TEN19);
            rem = cur % TEN19;
        }
        chunks[nc++] = static_cast<Limb>(rem);
        n = mpi_top(work.get(), n);
    }
    char buf[24];
    int length = 0;
    if (nc == 0) {
        if (out) std::memcpy(out, "0", 2);
        return 1;
    }
    if (sign == 1) {
        if (out) out[length] = '-';
        ++length;
    }
    for (int i = nc - 1; i >= 0; --i) {
        Limb v = chunks[i];
        int k = 0;
        do {
            buf[k++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        if (i != nc - 1)
            while (k < 19) buf[k++] = '0';
        while (k > 0) {
            if (out) out[length] = buf[k - 1];
            ++length;
            --k;
        }
    }
    if (out) out[length] = '\0';
    return length;
}

bool mpi_from_dec(Limb* limbs, int& count, int& sign, const char* text) {
    sign = 0;
    if (*text == '-') {
        sign = 1;
        ++text;
    }
    const int digits = static_cast<int>(std::strlen(text));
    count = 0;
    bool ok = digits > 0;
    // n = n * 10 + d, with room for digits / 19 + 1 limbs.
    for (int i = 0; i < digits; ++i) {
        const char c = text[i];
        Limb carry = 0;
        if (c < '0' || c > '9')
            ok = false;
        else
            carry = static_cast<Limb>(c - '0');
        for (int j = 0; j < count; ++j) {
            const unsigned __int128 t = (unsigned __int128)limbs[j] * 10 + carry;
            limbs[j] = static_cast<Limb>(t);
            carry = static_cast<Limb>(t >> 64);
        }
        if (carry) limbs[count++] = carry;
    }
    if (count == 0) sign = 0;
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

void mpi_output(FILE* file, const Limb* limbs, int count, int sign) {
    const int length = mpi_to_hex(limbs, count, sign, nullptr, true, true);
    MpiScratch text(length / 8 + 1);
    char* s = reinterpret_cast<char*>(text.get());
    mpi_to_hex(limbs, count, sign, s, true, true);
    std::fprintf(file, "%s\n", s);
}

}  // namespace Cipher

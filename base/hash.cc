#include "base/hash.h"

#include <nmmintrin.h>
#include <string.h>

namespace Base {

// The crc32 instruction on a little-endian 8-byte word gives the same result
// as on its two 4-byte halves in order, so the bulk runs 8 bytes a step and
// the tail finishes 4, 2, then 1 bytes at a time.
unsigned int Hash::calc(const void* data, int length, unsigned int seed) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    unsigned long n = length > 0 ? static_cast<unsigned long>(length) : 0;
    unsigned long long crc = seed;
    for (; n >= 8; n -= 8, p += 8) {
        unsigned long long w;
        memcpy(&w, p, 8);
        crc = _mm_crc32_u64(crc, w);
    }
    unsigned int c = static_cast<unsigned int>(crc);
    if (n >= 4) {
        unsigned int w;
        memcpy(&w, p, 4);
        c = _mm_crc32_u32(c, w);
        p += 4;
        n -= 4;
    }
    if (n >= 2) {
        unsigned short w;
        memcpy(&w, p, 2);
        c = _mm_crc32_u16(c, w);
        p += 2;
        n -= 2;
    }
    if (n) c = _mm_crc32_u8(c, *p);
    return c;
}

}  // namespace Base

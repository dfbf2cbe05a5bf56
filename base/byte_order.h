#ifndef XELMD_BASE_BYTE_ORDER_H
#define XELMD_BASE_BYTE_ORDER_H

#include <cstdint>
#include <cstring>

// Big-endian loads and stores at any alignment. Every wire coder goes
// through these (memcpy + bswap) instead of casting unaligned pointers.
namespace Base {

inline uint16_t load_be16(const void* p) {
    uint16_t v;
    memcpy(&v, p, 2);
    return __builtin_bswap16(v);
}
inline uint32_t load_be32(const void* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}
inline uint64_t load_be64(const void* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}
inline void store_be16(void* p, uint16_t v) {
    v = __builtin_bswap16(v);
    memcpy(p, &v, 2);
}
inline void store_be32(void* p, uint32_t v) {
    v = __builtin_bswap32(v);
    memcpy(p, &v, 4);
}
inline void store_be64(void* p, uint64_t v) {
    v = __builtin_bswap64(v);
    memcpy(p, &v, 8);
}

// Byte-reverses n (2, 4 or 8) bytes from src into dst; other sizes are copied.
inline void swap_copy(void* dst, const void* src, int n) {
    switch (n) {
        case 2: {
            uint16_t v;
            memcpy(&v, src, 2);
            store_be16(dst, v);
            break;
        }
        case 4: {
            uint32_t v;
            memcpy(&v, src, 4);
            store_be32(dst, v);
            break;
        }
        case 8: {
            uint64_t v;
            memcpy(&v, src, 8);
            store_be64(dst, v);
            break;
        }
        default:
            memcpy(dst, src, static_cast<size_t>(n));
            break;
    }
}

// Host-order load and store at any alignment.
template <typename T>
inline T load_host(const void* p) {
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}
template <typename T>
inline void store_host(void* p, T v) {
    memcpy(p, &v, sizeof v);
}

inline double bits_to_double(uint64_t bits) {
    double d;
    memcpy(&d, &bits, 8);
    return d;
}
inline uint64_t double_to_bits(double d) {
    uint64_t bits;
    memcpy(&bits, &d, 8);
    return bits;
}

}  // namespace Base

#endif  // XELMD_BASE_BYTE_ORDER_H

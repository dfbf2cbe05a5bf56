#ifndef XELMD_CIPHER_SM4_AVX512_H
#define XELMD_CIPHER_SM4_AVX512_H

#include <cstddef>
#include <cstdint>

namespace Cipher {

// SM4 on 512-bit vectors with the GFNI affine instructions: 16 blocks per
// register set, one 32-bit word of each block per lane, up to four sets
// interleaved so that one set's round hides another's latency. Blocks are
// moved in and out with byte shuffles and 4x4 word transposes; counter mode
// builds its counter blocks directly in that word-per-lane form, so the
// keystream never passes through memory. Thread contract: any thread.
class Sm4Avx512 {
  public:
    // Whether the processor has AVX-512 F/BW/VL and GFNI and the operating
    // system saves the 512-bit register state.
    static bool supported();
    // Whether the instructions reproduce this S-box table exactly (call
    // only when supported).
    static bool matches(const unsigned char* sbox);
    // n consecutive 16-byte blocks, any n; out may equal in.
    static void process(unsigned char* out, const unsigned char* in, size_t n,
                        const uint32_t* round_keys);
    // out = in ^ keystream of len bytes, the keystream being the encipherment
    // of counter, counter + 1, ... (128-bit big-endian, modulo 2^128); out
    // may equal in.
    static void ctr(unsigned char* out, const unsigned char* in, size_t len,
                    const unsigned char* counter, const uint32_t* round_keys);
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_SM4_AVX512_H

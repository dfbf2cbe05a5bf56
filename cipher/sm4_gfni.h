#ifndef XELMD_CIPHER_SM4_GFNI_H
#define XELMD_CIPHER_SM4_GFNI_H

#include <cstdint>

namespace Cipher {

// Eight SM4 blocks at once with AVX2 vectors and the GFNI affine
// instructions: the S-box is the affine map of an inverse in GF(2^8), which
// two GFNI instructions compute after moving to the field they use.
// Thread contract: any thread.
class Sm4Gfni {
  public:
    // Whether the processor has the instructions.
    static bool supported();
    // Whether the instructions reproduce this S-box table exactly (call
    // only when supported).
    static bool matches(const unsigned char* sbox);
    // 8 or 16 consecutive 16-byte blocks; out may equal in.
    static void process8(unsigned char* out, const unsigned char* in, const uint32_t* round_keys);
    static void process16(unsigned char* out, const unsigned char* in, const uint32_t* round_keys);
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_SM4_GFNI_H

#ifndef XELMD_CIPHER_MGF1_H
#define XELMD_CIPHER_MGF1_H

namespace Cipher {

// The MGF1 mask generation function. Stateless; any thread.
class Mgf1 {
  public:
    // mask = the first mask_len bytes of SHA-1(seed || counter) for the
    // big-endian 32-bit counters 0, 1, 2, ...; nothing for non-positive lengths.
    static void calc_sha1(const char* seed, int seed_len, char* mask, int mask_len);
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_MGF1_H

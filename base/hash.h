#ifndef XELMD_BASE_HASH_H
#define XELMD_BASE_HASH_H

namespace Base {

// CRC-32C (Castagnoli) update over a byte range, without initial or final
// inversion, computed with the SSE4.2 crc32 instruction. Stateless; any thread.
class Hash {
  public:
    // Returns the CRC-32C of length bytes at data continued from seed; a
    // length of 0 or below returns seed unchanged.
    static unsigned int calc(const void* data, int length, unsigned int seed);
};

}  // namespace Base

#endif  // XELMD_BASE_HASH_H

#ifndef XELMD_CIPHER_SM3_H
#define XELMD_CIPHER_SM3_H

#include <cstdint>

namespace Cipher {

// The SM3 hash (256-bit digest). Life cycle: reset (or construct), update any
// number of times, final; final leaves the result in `digest` and does not
// reset. Thread contract: one object per thread.
class Sm3 {
  public:
    static constexpr int DIGEST_SIZE = 32;
    static constexpr int BLOCK_SIZE = 64;

    Sm3() { reset(); }
    ~Sm3();

    void reset();
    // Non-positive lengths are ignored.
    void update(const void* data, int length);
    void final();

    unsigned char digest[DIGEST_SIZE];

  private:
    void compress(const unsigned char* block);

    uint32_t state_[8];
    uint64_t bit_count_;
    unsigned char buffer_[BLOCK_SIZE];
    int fill_;
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_SM3_H

#ifndef XELMD_CIPHER_MD5_H
#define XELMD_CIPHER_MD5_H

#include <cstdint>

namespace Cipher {

// The MD5 digest. Life cycle: reset (or construct), update any number of
// times, final; final leaves the result in `digest` and does not reset.
// Thread contract: one object per thread.
class Md5 {
  public:
    static const int DIGEST_SIZE = 16;
    static const int BLOCK_SIZE = 64;

    Md5() { reset(); }
    ~Md5();

    void reset();
    // Non-positive lengths are ignored.
    void update(const void* data, int length);
    void final();

    unsigned char digest[DIGEST_SIZE];

  private:
    void compress(const unsigned char* blocks, int count);

    uint32_t state_[4];
    uint64_t bit_count_;
    unsigned char buffer_[BLOCK_SIZE];
    int fill_;
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_MD5_H

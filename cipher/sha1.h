#ifndef XELMD_CIPHER_SHA1_H
#define XELMD_CIPHER_SHA1_H

#include <cstdint>

namespace Cipher {

// The SHA-1 digest, on the processor's SHA instructions when present.
// Life cycle: reset (or construct), update any number of times, final; final
// leaves the result in `digest` and does not reset.
// Thread contract: one object per thread.
class Sha1 {
  public:
    static const int DIGEST_SIZE = 20;
    static const int BLOCK_SIZE = 64;

    Sha1();
    ~Sha1();

    void reset();
    // Non-positive lengths are ignored.
    void update(const void* data, int length);
    void final();

    // True when the processor has the SHA instructions.
    static bool hardware_available();
    // Selects the instruction path (on) or portable code (off) for this object;
    // returns the path now in use.
    bool use_hardware(bool on);

    unsigned char digest[DIGEST_SIZE];

  private:
    void compress(const unsigned char* blocks, int count);

    uint32_t state_[5];
    uint64_t bit_count_;
    unsigned char buffer_[BLOCK_SIZE];
    int fill_;
    bool hw_;
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_SHA1_H

#ifndef XELMD_CIPHER_DES_H
#define XELMD_CIPHER_DES_H

#include <cstdint>

namespace Cipher {

// DES block cipher with the ECB, CBC and CTR modes. Every block and mode
// function goes through the virtual process(), so a subclass replacing it
// (TripleDes) inherits them all. The key schedule is read-only after
// construction; one object serves one thread at a time.
class Des {
  public:
    static const int BLOCK_SIZE = 8;

    // 8-byte key; the parity bits are ignored.
    explicit Des(const unsigned char* key);
    virtual ~Des();

    // The block as an integer whose most significant byte is the block's first
    // byte; mode 'e' enciphers, 'd' deciphers, any other letter gives 0.
    virtual unsigned long process(unsigned long block, char mode);

    void encode(unsigned char* out, const unsigned char* in);
    void decode(unsigned char* out, const unsigned char* in);
    static void encode_func(void* self, unsigned char* out, const unsigned char* in);
    static void decode_func(void* self, unsigned char* out, const unsigned char* in);

    bool encode_ecb(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                    bool pad);
    bool decode_ecb(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                    bool pad);
    bool encode_cbc(unsigned char* out, int& out_len, const unsigned char* in, int in_len, bool pad,
                    const unsigned char* iv, int iv_len);
    bool decode_cbc(unsigned char* out, int& out_len, const unsigned char* in, int in_len, bool pad,
                    const unsigned char* iv, int iv_len);
    bool encode_ctr(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                    const unsigned char* iv, int iv_len);
    bool decode_ctr(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                    const unsigned char* iv, int iv_len);

  protected:
    // A schedule of all-zero subkeys, for subclasses that keep their own.
    Des();

    static uint64_t initial_permutation(uint64_t block);
    static uint64_t final_permutation(uint64_t block);
    // The 16 rounds of key on the two halves, ending with the swap, so that
    // runs of several keys chain without permuting in between.
    static void rounds(const Des& key, uint32_t& left, uint32_t& right, bool decrypt);

  private:
    Des(const Des&) = delete;
    Des& operator=(const Des&) = delete;

    // Per round two words: the key bits of S-boxes 1, 3, 5, 7 and of 2, 4, 6, 8,
    // each six-bit group placed where round() takes that S-box's input from.
    uint32_t subkeys_[32];
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_DES_H

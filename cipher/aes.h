#ifndef XELMD_CIPHER_AES_H
#define XELMD_CIPHER_AES_H

#include <cstdint>

namespace Cipher {

// AES block cipher with 128, 192 or 256-bit keys and the ECB, CBC and CTR modes.
// The key schedule is read-only after construction; the mode functions use the
// object's work blocks, so one object serves one thread at a time.
class Aes {
  public:
    static const int BLOCK_SIZE = 16;

    // key_bytes must be 16, 24 or 32; any other size leaves the object without a
    // key schedule (rounds() == 0) and every operation then outputs nothing useful.
    Aes(const unsigned char* key, int key_bytes);
    ~Aes();

    void encode(unsigned char* out, const unsigned char* in);
    void decode(unsigned char* out, const unsigned char* in);
    static void encode_func(void* self, unsigned char* out, const unsigned char* in);
    static void decode_func(void* self, unsigned char* out, const unsigned char* in);
    // n consecutive blocks; several are kept in flight on the instruction path.
    void encode_blocks(unsigned char* out, const unsigned char* in, int n);
    void decode_blocks(unsigned char* out, const unsigned char* in, int n);

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

    int rounds() const { return rounds_; }

    // True when the processor has the AES instructions.
    static bool hardware_available();
    // Selects the instruction path (on) or the portable tables (off) for this
    // object; returns the path now in use. Both give identical results.
    bool use_hardware(bool on);
    bool uses_hardware() const { return hw_; }

  private:
    Aes(const Aes&) = delete;
    Aes& operator=(const Aes&) = delete;

    void expand_key(const unsigned char* key, int key_bytes);

    // Round keys as big-endian words (portable path) and as bytes in the order
    // the instructions load them; the decryption keys of both are in the
    // equivalent-inverse-cipher form.
    uint32_t enc_words_[60];
    uint32_t dec_words_[60];
    alignas(16) unsigned char enc_bytes_[240];
    alignas(16) unsigned char dec_bytes_[240];
    int rounds_;
    bool hw_;
    unsigned char chain_[16];  // the all-zero counter block for a null IV
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_AES_H

#ifndef XELMD_CIPHER_SM4_H
#define XELMD_CIPHER_SM4_H

#include <cstdint>

namespace Cipher {

// The SM4 block cipher (128-bit key and block) with its ECB, CBC and CTR
// modes (rules in cipher/block_mode.h). Thread contract: any thread once
// constructed; the key schedule is read-only and mode state is per call.
class Sm4 {
  public:
    static constexpr int BLOCK_SIZE = 16;
    static constexpr int KEY_SIZE = 16;

    explicit Sm4(const unsigned char* key);
    ~Sm4();

    void encode(unsigned char* out, const unsigned char* in) const { process(out, in, enc_keys_); }
    void decode(unsigned char* out, const unsigned char* in) const { process(out, in, dec_keys_); }
    static void process(unsigned char* out, const unsigned char* in, const uint32_t* round_keys);
    // Free-function form of encode for callers that take a block function.
    static void encode_func(void* self, unsigned char* out, const unsigned char* in);

    // n consecutive blocks; out may equal in.
    void encode_blocks(unsigned char* out, const unsigned char* in, int n) const;
    void decode_blocks(unsigned char* out, const unsigned char* in, int n) const;

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

    // True when the processor has the vector instructions and they reproduce
    // the S-box table.
    static bool hardware_available();
    // Selects the vector path (on, the default where available) or the
    // tables alone (off) for runs of five blocks or more; returns the path
    // now in use. Both give identical results.
    bool use_hardware(bool on);
    bool uses_hardware() const { return hw_; }

  private:
    // The shortest tail worth a padded vector pass.
    static constexpr int MIN_PADDED_BLOCKS = 5;

    void process_blocks(unsigned char* out, const unsigned char* in, int n,
                        const uint32_t* round_keys) const;

    uint32_t enc_keys_[32];
    uint32_t dec_keys_[32];
    bool hw_;
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_SM4_H

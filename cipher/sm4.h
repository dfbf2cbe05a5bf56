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

    // The implementations of the block loops, all giving identical results:
    // the tables alone, eight blocks per 256-bit GFNI pass, or sixteen per
    // 512-bit register set with counter mode built in registers.
    enum class Path : unsigned char { TABLE, AVX2_GFNI, AVX512_GFNI };
    // The fastest path this processor runs and reproduces the S-box table on.
    static Path best_path();
    static bool path_available(Path path);
    // Selects a path; false (and no change) where the processor lacks it.
    bool use_path(Path path);
    Path path() const { return path_; }

    // True when the processor has the vector instructions and they reproduce
    // the S-box table.
    static bool hardware_available();
    // Selects the best vector path (on, the default where available) or the
    // tables alone (off); returns whether a vector path is now in use.
    bool use_hardware(bool on);
    bool uses_hardware() const { return path_ != Path::TABLE; }

  private:
    // The shortest tail worth a padded 256-bit pass.
    static constexpr int MIN_PADDED_BLOCKS = 5;

    void process_blocks(unsigned char* out, const unsigned char* in, int n,
                        const uint32_t* round_keys) const;

    uint32_t enc_keys_[32];
    uint32_t dec_keys_[32];
    Path path_;
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_SM4_H

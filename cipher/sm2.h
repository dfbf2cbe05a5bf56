#ifndef XELMD_CIPHER_SM2_H
#define XELMD_CIPHER_SM2_H

#include "base/random.h"
#include "cipher/mpi.h"

namespace Cipher {

// SM2 public-key encryption on the built-in 256-bit curve or a caller's
// curve. Ciphertext: 0x04 || x1 || y1 || C2 || C3 (coordinates full width,
// C3 the 32-byte SM3 check value), optionally masked with the public key.
// Thread contract: one thread per object (it owns a random generator and
// the ephemeral scalar).
class Sm2 {
  public:
    explicit Sm2(bool mask);
    // A caller's curve from hexadecimal text; every number gets
    // strlen(p) / 16 limbs.
    Sm2(const char* p, const char* a, const char* b, const char* n, const char* gx, const char* gy,
        bool mask);
    ~Sm2();
    Sm2(const Sm2&) = delete;
    Sm2& operator=(const Sm2&) = delete;

    // d from text, halved while d >= n; the public key becomes d G. False
    // for text that is not hexadecimal or wider than the curve.
    bool set_private_key(const char* hex);
    bool set_public_key(const char* x_hex, const char* y_hex);
    // d = a random number of bits - 1 bits, halved while d >= n; P = d G.
    void gen_keys();
    // Upper-case hex of the public coordinates, 16 digits per limb in use;
    // buffers of 16 * limbs + 1 bytes (65 for the built-in curve).
    void get_public_key(char* x, char* y) const;
    bool set_k(const char* hex);
    void gen_k();

    // With a null out only out_len is set (in_len + 16w + 33).
    void encode(unsigned char* out, int& out_len, const unsigned char* in, int in_len);
    // out_len = in_len - (16w + 33) first; false when that is below 1, for a
    // first byte other than 0x04 or a failed check value. A null out is a
    // size query (true).
    bool decode(unsigned char* out, int& out_len, const unsigned char* in, int in_len);

    int overhead() const { return 16 * width_ + 33; }

  private:
    struct Number {
        Limb* limbs;
        int count;
    };

    void init(const char* p, const char* a, const char* b, const char* n, const char* gx,
              const char* gy);
    bool parse(Number& number, const char* hex) const;
    void assign(Number& number, const Limb* limbs, int count) const;
    void reduce_private_key();
    void scalar_mul(Number& rx, Number& ry, const Number& x, const Number& y, const Number& k);
    void base_mul(Number& rx, Number& ry, const Number& k);
    void coordinate_bytes(unsigned char* out, const Number& c) const;
    void apply_mask(unsigned char* data, int length) const;

    Number p_, a_, b_, n_, gx_, gy_;
    Number d_, px_, py_;
    Number k_;
    Base::Random random_;
    int bits_;
    bool mask_;
    int width_;       // limbs per number
    bool fast_;       // the built-in prime and coefficient
    bool fast_base_;  // and the built-in base point
    Limb* storage_;   // every number's limbs, width_ each
    Number work_[4];  // C1 and the shared point during encode/decode
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_SM2_H

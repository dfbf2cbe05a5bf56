#ifndef XELMD_CIPHER_RSA_H
#define XELMD_CIPHER_RSA_H

#include "cipher/mpi.h"

namespace Cipher {

// RSA with the raw operations and RSAES-OAEP (SHA-1, MGF1 with SHA-1, empty
// label). The modulus size in bytes, k, is the limb count of n times 8.
// Keys are set once, then the object serves one thread at a time.
class Rsa {
  public:
    static const int MAX_LIMBS = 64;  // moduli up to 4096 bits
    static const int OAEP_OVERHEAD = 42;

    Rsa();
    ~Rsa();

    // Big-endian byte strings; a null pointer leaves that number unset. False
    // when a number is longer than MAX_LIMBS limbs.
    bool set_keys(const char* n, int n_len, const char* e, int e_len, const char* d, int d_len);
    // Shortest big-endian forms; null outputs give the lengths only.
    void get_keys(char* n, int& n_len, char* e, int& e_len, char* d, int& d_len) const;
    // n = p q with a random odd public exponent coprime to (p - 1)(q - 1) and
    // d its inverse modulo that totient. False for p or q below 3, or a
    // modulus over MAX_LIMBS limbs.
    bool gen_keys(const char* p, int p_len, const char* q, int q_len);

    // Raw m^e mod n (encode) and c^d mod n (decode): in is a big-endian number
    // below n of at most k bytes; out gets k bytes. A null out gives k only.
    bool encode(void* out, int& out_len, const void* in, int in_len);
    bool decode(void* out, int& out_len, const void* in, int in_len);

    // The input in chunks of at most k - 42 bytes, each to one k-byte block.
    // out_len -1 (and false) when k - 42 < 1; a null out gives the length only.
    bool encode_oaep(char* out, int& out_len, const char* in, int in_len);
    // Whole k-byte blocks; false when a block is not valid OAEP under this key.
    // out needs room for (in_len / k) * (k - 42) bytes; null gives the length.
    bool decode_oaep(char* out, int& out_len, const char* in, int in_len);

    int modulus_bytes() const { return n_count_ * 8; }

  private:
    Rsa(const Rsa&) = delete;
    Rsa& operator=(const Rsa&) = delete;

    // r = x^exp mod n over k big-endian bytes in and out.
    bool power(unsigned char* out, const unsigned char* in, int in_len, const Limb* exp,
               int exp_count);
    bool unpad_block(const unsigned char* em, char* out, int& len) const;

    Limb n_[MAX_LIMBS];
    int n_count_;
    Limb e_[MAX_LIMBS];
    int e_count_;
    Limb d_[MAX_LIMBS];
    int d_count_;
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_RSA_H

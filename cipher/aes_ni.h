#ifndef XELMD_CIPHER_AES_NI_H
#define XELMD_CIPHER_AES_NI_H

#include <cstdint>

namespace Cipher {
namespace AesNi {

// AES through the processor's AES instructions. Round keys are the byte form of
// the standard schedule (decryption keys in equivalent-inverse-cipher form), so
// these give bit-identical results to the portable tables. Call only when
// available() is true. Any thread; no state of their own.
bool available();
void encrypt_blocks(const unsigned char* keys, int rounds, unsigned char* out,
                    const unsigned char* in, int n);
void decrypt_blocks(const unsigned char* keys, int rounds, unsigned char* out,
                    const unsigned char* in, int n);
// CTR over len bytes from the 16-byte big-endian counter (wrapping modulo 2^128).
void ctr(const unsigned char* keys, int rounds, unsigned char* out, const unsigned char* in,
         int len, const unsigned char* counter);

}  // namespace AesNi
}  // namespace Cipher

#endif  // XELMD_CIPHER_AES_NI_H

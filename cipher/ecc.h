#ifndef XELMD_CIPHER_ECC_H
#define XELMD_CIPHER_ECC_H

namespace Cipher {

// SM2 key derivation: SM3(z || counter) for counter = 1, 2, ... (4 bytes
// big-endian), concatenated and cut to out_len. scratch holds z_len + 4
// bytes.
void kdf(char* out, int out_len, const char* z, int z_len, char* scratch);

}  // namespace Cipher

#endif  // XELMD_CIPHER_ECC_H

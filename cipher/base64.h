#ifndef XELMD_CIPHER_BASE64_H
#define XELMD_CIPHER_BASE64_H

namespace Cipher {

// Base64 with the standard alphabet and "=" padding; no line breaks are
// written and no terminating NUL. Stateless; any thread.
class Base64 {
  public:
    // out_len = ceil(in_len / 3) * 4. A null out gives the length only.
    // False only for a negative in_len.
    static bool encode(void* out, int& out_len, const void* in, int in_len);
    // Decodes whole groups of four characters; trailing "=" characters of the
    // last group reduce the output by as many bytes. Characters outside the
    // alphabet are not rejected (they decode as some value). False, with
    // out_len 0, when in_len is negative or not a multiple of four.
    // A null out gives the length only.
    static bool decode(void* out, int& out_len, const void* in, int in_len);
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_BASE64_H

#ifndef XELMD_API_API_INFO_H
#define XELMD_API_API_INFO_H

namespace Api {

// The terminal information a login carries: the tag hidden behind the
// protocol text and the RSA-protected product text. Stateless; any thread.

static const int API_INFO_SIZE = 34;
static const int ENCRYPTED_INFO_SIZE = 301;  // 300 characters and a zero

// The embedded 1024-bit RSA public key of the fronts, as PEM text.
extern const char g_terminal_public_key[];

// Writes the terminal tag into out[0..size): random bytes seeded by the
// second, the second itself hidden in bytes 7..10, and an SM3 digest of the
// random bytes, the second and user_id in bytes 11..26. A size below 34
// gets random bytes only.
void get_api_info(char* out, int size, const char* user_id);

// Base64 of "#<length>", its zero and the RSA-OAEP ciphertext of the text
// "<init_encrypt_info><front_mode>" under the embedded key; at most 300
// characters, zero-filled to ENCRYPTED_INFO_SIZE bytes. Non-zero on success,
// 0 (out untouched) when the key does not parse or nothing was enciphered.
int encrypt_api_info(char* out, int init_encrypt_info, char front_mode);

// True for a null pointer, an empty text or one made only of spaces.
bool is_null_string(const char* text);

}  // namespace Api

#endif  // XELMD_API_API_INFO_H

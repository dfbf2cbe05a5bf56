#include "api/api_info.h"

#include <cstdio>
#include <cstring>

#include "base/date_time.h"
#include "base/random.h"
#include "cipher/base64.h"
#include "cipher/pem.h"
#include "cipher/rsa.h"
#include "cipher/sm3.h"

namespace Api {

// Test key: the private half is tools/keys/terminal_rsa_private.pem.
const char g_terminal_public_key[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MIGfMA0GCSqGSIb3DQEBAQUAA4GNADCBiQKBgQDDUYKe9eBWOJnjVnuRv5faRgnb\n"
    "FXcEzJRkZ9Dj2lvzIGIGe6/BGVLsWolnj6zlPmXW+cPN4mzK6PudVyYn1VAhpqp7\n"
    "E+5znzYY1+fjIhDAuxYqeIKDYUIXlKhQqdQrgLCAZnuxxcjPjSypoIoReJc2uVTF\n"
    "DMIYzE9nX3v8m1gVPwIDAQAB\n"
    "-----END PUBLIC KEY-----\n";

void get_api_info(char* out, int size, const char* user_id) {
    long seconds = 0;
    int milliseconds = 0;
    Base::DateTime::get_now(seconds, milliseconds);
    unsigned int now = static_cast<unsigned int>(seconds);
    Base::Random random(now);
    unsigned char* tag = reinterpret_cast<unsigned char*>(out);
    for (int i = 0; i < size; ++i) tag[i] = static_cast<unsigned char>(random.next());
    if (size < API_INFO_SIZE) return;

    unsigned int hidden =
        (static_cast<unsigned int>(tag[5]) << 24 | static_cast<unsigned int>(tag[6]) << 16 |
         static_cast<unsigned int>(tag[32]) << 8 | tag[33]) ^
        now;
    for (int i = 0; i < 4; ++i) tag[7 + i] = static_cast<unsigned char>(hidden >> (24 - 8 * i));

    char text[64];
    int length = snprintf(text, sizeof text, "%u %s", now, user_id ? user_id : "");
    if (length >= static_cast<int>(sizeof text)) length = sizeof text - 1;
    Cipher::Sm3 sm3;
    sm3.update(tag, 7);
    sm3.update(text, length);
    sm3.update(tag + 27, 7);
    sm3.final();
    for (int i = 0; i < 16; ++i) tag[11 + i] = sm3.digest[2 * i];
}

int encrypt_api_info(char* out, int init_encrypt_info, char front_mode) {
    int n_len = 0, e_len = 0;
    if (!Cipher::Pem::parse_rsa_public_key(g_terminal_public_key, nullptr, n_len, nullptr, e_len))
        return 0;
    char n[512], e[512];
    if (n_len > static_cast<int>(sizeof n) || e_len > static_cast<int>(sizeof e)) return 0;
    if (!Cipher::Pem::parse_rsa_public_key(g_terminal_public_key, n, n_len, e, e_len)) return 0;
    Cipher::Rsa rsa;
    if (!rsa.set_keys(n, n_len, e, e_len, nullptr, 0)) return 0;

    char plain[16];
    int plain_len = snprintf(plain, sizeof plain, "%d%c", init_encrypt_info, front_mode);
    // One OAEP block of the modulus size: 128 bytes for this key.
    char block[8 + 512];
    int cipher_len = 0;
    rsa.encode_oaep(nullptr, cipher_len, plain, plain_len);
    if (cipher_len <= 0 || cipher_len > 512) return 0;
    int head = snprintf(block, 8, "#%d", cipher_len) + 1;  // the zero travels too
    if (!rsa.encode_oaep(block + head, cipher_len, plain, plain_len) || cipher_len <= 0) return 0;

    char text[4 * (sizeof block + 2) / 3 + 4];
    int text_len = 0;
    if (!Cipher::Base64::encode(text, text_len, block, head + cipher_len)) return 0;
    if (text_len > ENCRYPTED_INFO_SIZE - 1) text_len = ENCRYPTED_INFO_SIZE - 1;
    memcpy(out, text, static_cast<size_t>(text_len));
    memset(out + text_len, 0, static_cast<size_t>(ENCRYPTED_INFO_SIZE - text_len));
    return 1;
}

bool is_null_string(const char* text) {
    if (!text) return true;
    while (*text == ' ') ++text;
    return *text == '\0';
}

}  // namespace Api

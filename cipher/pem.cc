#include "cipher/pem.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "cipher/aes.h"
#include "cipher/base64.h"
#include "cipher/md5.h"
#include "cipher/triple_des.h"

namespace Cipher {

namespace {

const int LINE_CHARS = 64;
const char kProcType[] = "Proc-Type: 4,ENCRYPTED\n";
const char kDekInfo[] = "DEK-Info: ";

struct DekCipher {
    const char* name;
    int key_len;
    int iv_len;
};

const DekCipher kCiphers[] = {
    {"DES-EDE3-CBC", 24, 8},
    {"AES-128-CBC", 16, 16},
    {"AES-192-CBC", 24, 16},
    {"AES-256-CBC", 32, 16},
};

bool starts_with(const char* p, const char* prefix) {
    return std::strncmp(p, prefix, std::strlen(prefix)) == 0;
}

bool is_body_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct Encryption {
    const DekCipher* cipher;
    unsigned char iv[16];
};

// "DEK-Info: <cipher>,<hex IV>\n\n" at p; advances p past the blank line.
bool parse_dek_info(const char*& p, Encryption& enc) {
    if (!starts_with(p, kDekInfo)) return false;
    p += sizeof kDekInfo - 1;
    enc.cipher = nullptr;
    for (const DekCipher& c : kCiphers) {
        const size_t n = std::strlen(c.name);
        if (std::strncmp(p, c.name, n) == 0 && p[n] == ',') {
            enc.cipher = &c;
            p += n + 1;
            break;
        }
    }
    if (enc.cipher == nullptr) return false;
    for (int i = 0; i < enc.cipher->iv_len; ++i) {
        const int hi = hex_value(p[0]);
        const int lo = hi < 0 ? -1 : hex_value(p[1]);
        if (lo < 0) return false;
        enc.iv[i] = static_cast<unsigned char>(hi * 16 + lo);
        p += 2;
    }
    if (p[0] != '\n' || p[1] != '\n') return false;
    p += 2;
    return true;
}

// Lines of exactly 64 characters, each ended by one line feed, the last one
// of 1 to 64 characters; the end marker follows the last line feed. The
// characters are appended to joined without the line feeds.
bool join_body(const char* p, const char* end, std::vector<char>& joined) {
    if (p >= end) return false;
    while (p < end) {
        const char* line = p;
        while (p < end && *p != '\n') {
            if (!is_body_char(*p)) return false;
            ++p;
        }
        if (p == end) return false;  // the end marker must start a line
        const long len = p - line;
        if (len == 0 || len > LINE_CHARS) return false;
        ++p;
        if (len < LINE_CHARS && p != end) return false;
        joined.insert(joined.end(), line, line + len);
    }
    return true;
}

// Key = D1 || D2 || ..., D1 = MD5(password || salt), D(i+1) = MD5(D(i) ||
// password || salt), salt = the first 8 bytes of the IV.
void derive_key(const char* password, const unsigned char* salt, unsigned char* key, int key_len) {
    Md5 md5;
    const int pw_len = static_cast<int>(std::strlen(password));
    for (int done = 0; done < key_len;) {
        if (done > 0) {
            const unsigned char* prev = md5.digest;
            unsigned char last[Md5::DIGEST_SIZE];
            std::memcpy(last, prev, sizeof last);
            md5.reset();
            md5.update(last, sizeof last);
        } else {
            md5.reset();
        }
        md5.update(password, pw_len);
        md5.update(salt, 8);
        md5.final();
        const int take = key_len - done < Md5::DIGEST_SIZE ? key_len - done : Md5::DIGEST_SIZE;
        std::memcpy(key + done, md5.digest, take);
        done += take;
    }
}

// CBC decryption in place; the padding value must lie within 1..block size
// (a wrong password almost always fails here).
bool decrypt_body(const Encryption& enc, const char* password, std::vector<unsigned char>& data) {
    unsigned char key[32];
    derive_key(password, enc.iv, key, enc.cipher->key_len);
    const int len = static_cast<int>(data.size());
    const int block = enc.cipher->iv_len;
    int out_len = 0;
    bool ok;
    if (block == 8) {
        TripleDes des(key, key + 8, key + 16);
        ok = des.decode_cbc(data.data(), out_len, data.data(), len, false, enc.iv, 8);
    } else {
        Aes aes(key, enc.cipher->key_len);
        ok = aes.decode_cbc(data.data(), out_len, data.data(), len, false, enc.iv, 16);
    }
    explicit_bzero(key, sizeof key);
    if (!ok || out_len == 0) return false;
    const int pad = data[out_len - 1];
    if (pad < 1 || pad > block) return false;
    data.resize(out_len - pad);
    return true;
}

}  // namespace

bool Pem::parse_pem(const char* text, const char* label, char* out, int& out_len,
                    const char* password) {
    out_len = 0;
    if (text == nullptr || label == nullptr) return false;
    char begin[160], end_marker[160];
    const int bn = std::snprintf(begin, sizeof begin, "-----BEGIN %s-----\n", label);
    const int en = std::snprintf(end_marker, sizeof end_marker, "-----END %s-----", label);
    if (bn <= 0 || bn >= static_cast<int>(sizeof begin) || en <= 0 ||
        en >= static_cast<int>(sizeof end_marker))
        return false;
    const char* p = std::strstr(text, begin);
    if (p == nullptr) return false;
    p += bn;
    bool encrypted = false;
    Encryption enc;
    if (starts_with(p, kProcType)) {
        p += sizeof kProcType - 1;
        if (!parse_dek_info(p, enc)) return false;
        encrypted = true;
    }
    const char* end = std::strstr(p, end_marker);
    if (end == nullptr) return false;
    std::vector<char> joined;
    if (!join_body(p, end, joined)) return false;
    int der_len = 0;
    if (!Base64::decode(nullptr, der_len, joined.data(), static_cast<int>(joined.size())))
        return false;
    std::vector<unsigned char> der(der_len > 0 ? der_len : 1);
    Base64::decode(der.data(), der_len, joined.data(), static_cast<int>(joined.size()));
    der.resize(der_len);
    if (encrypted && (password == nullptr || !decrypt_body(enc, password, der))) return false;
    if (out != nullptr && !der.empty()) std::memcpy(out, der.data(), der.size());
    out_len = static_cast<int>(der.size());
    return true;
}

}  // namespace Cipher

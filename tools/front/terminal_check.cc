#include "tools/front/terminal_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cipher/base64.h"
#include "cipher/pem.h"
#include "cipher/rsa.h"
#include "tools/front/config_text.h"

namespace Front {

TerminalCheck::TerminalCheck() : rsa_(nullptr) {}

TerminalCheck::~TerminalCheck() {
    delete rsa_;
}

bool TerminalCheck::load(const char* pem_path, std::string& error) {
    std::string text;
    if (!ConfigText::read_file(pem_path, text, error)) return false;
    char n[1024], d[1024];
    int n_len = sizeof n, d_len = sizeof d;
    Cipher::Rsa* rsa = new Cipher::Rsa();
    if (!Cipher::Pem::parse_rsa_private_key(text.c_str(), n, n_len, d, d_len, nullptr) ||
        !rsa->set_keys(n, n_len, nullptr, 0, d, d_len)) {
        delete rsa;
        error = std::string(pem_path) + ": not an RSA private key";
        return false;
    }
    delete rsa_;
    rsa_ = rsa;
    return true;
}

bool TerminalCheck::check(const char* text, int challenge, std::string& detail) const {
    if (rsa_ == nullptr) {
        detail = "no private key loaded";
        return false;
    }
    size_t length = strnlen(text, 301);
    if (length == 0) {
        detail = "missing";
        return false;
    }
    unsigned char block[301];
    int block_len = 0;
    if (length % 4 != 0 || !Cipher::Base64::decode(nullptr, block_len, text, length) ||
        block_len > static_cast<int>(sizeof block) ||
        !Cipher::Base64::decode(block, block_len, text, static_cast<int>(length))) {
        detail = "not Base64";
        return false;
    }
    const char* b = reinterpret_cast<const char*>(block);
    size_t head = strnlen(b, static_cast<size_t>(block_len));
    int cipher_len = b[0] == '#' ? atoi(b + 1) : -1;
    if (head >= static_cast<size_t>(block_len) || cipher_len <= 0 ||
        static_cast<int>(head) + 1 + cipher_len != block_len) {
        detail = "bad block layout";
        return false;
    }
    char plain[256];
    int plain_len = 0;
    if (!rsa_->decode_oaep(nullptr, plain_len, b + head + 1, cipher_len) ||
        plain_len >= static_cast<int>(sizeof plain) ||
        !rsa_->decode_oaep(plain, plain_len, b + head + 1, cipher_len)) {
        detail = "does not decrypt with the terminal key";
        return false;
    }
    plain[plain_len] = 0;
    char want[16];
    snprintf(want, sizeof want, "%d", challenge);
    size_t w = strlen(want);
    if (static_cast<size_t>(plain_len) != w + 1 || strncmp(plain, want, w) != 0) {
        detail = std::string("holds \"") + plain + "\", expected " + want + " and a mode character";
        return false;
    }
    return true;
}

}  // namespace Front

// Feeds arbitrary text to every PEM reader; the input is also tried as DER.
#include <cstdint>
#include <cstring>
#include <memory>

#include "cipher/pem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A NUL-terminated copy of exactly the input, so reads past it are caught.
    std::unique_ptr<char[]> text(new char[size + 1]);
    if (size > 0) std::memcpy(text.get(), data, size);
    text[size] = '\0';
    std::unique_ptr<char[]> a(new char[size + 16]), b(new char[size + 16]);
    int a_len = 0, b_len = 0;
    Cipher::Pem::parse_pem(text.get(), "PUBLIC KEY", a.get(), a_len, nullptr);
    Cipher::Pem::parse_rsa_public_key(text.get(), a.get(), a_len, b.get(), b_len);
    Cipher::Pem::parse_rsa_private_key(text.get(), a.get(), a_len, b.get(), b_len, "password");
    std::unique_ptr<Cipher::Pem::Certificate> cert(new Cipher::Pem::Certificate);
    Cipher::Pem::parse_certificate(text.get(), *cert);

    const char* der = reinterpret_cast<const char*>(data);
    const int len = static_cast<int>(size);
    Cipher::Pem::parse_rsa_public_key(der, len, a.get(), a_len, b.get(), b_len);
    Cipher::Pem::parse_rsa_private_key(der, len, a.get(), a_len, b.get(), b_len);
    Cipher::Pem::parse_certificate(der, len, *cert);
    std::unique_ptr<char[]> oid(new char[4 * size + 8]);
    Cipher::Pem::parse_oid(der, len, oid.get());
    return 0;
}

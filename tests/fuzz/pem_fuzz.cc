// Feeds arbitrary text to every PEM reader and to the layers below it: the
// input is also tried as DER, walked element by element (descending into
// every constructed one), and base64-decoded and round-tripped.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cipher/base64.h"
#include "cipher/der.h"
#include "cipher/pem.h"

namespace {

unsigned walk(const unsigned char* data, int size, int depth) {
    Cipher::Der::Iterator it(data, size);
    unsigned sum = 0;
    while (const Cipher::Der::Element* e = it.next()) {
        // Touch every value byte so out-of-bounds values are caught.
        for (uint32_t i = 0; i < e->length; ++i) sum += e->value[i];
        if (depth < 8 && (e->tag & 0x20) != 0)
            sum += walk(e->value, static_cast<int>(e->length), depth + 1);
    }
    return sum;
}

// Decoding agrees with its own size query; encoding decodes back.
void base64(const uint8_t* data, size_t size) {
    const int len = static_cast<int>(size);
    int n = 0;
    if (Cipher::Base64::decode(nullptr, n, data, len)) {
        std::unique_ptr<unsigned char[]> out(new unsigned char[n > 0 ? n : 1]);
        int m = 0;
        Cipher::Base64::decode(out.get(), m, data, len);
        if (m != n) abort();
    }
    int e = 0;
    Cipher::Base64::encode(nullptr, e, data, len);
    std::unique_ptr<char[]> text(new char[e > 0 ? e : 1]);
    Cipher::Base64::encode(text.get(), e, data, len);
    std::unique_ptr<unsigned char[]> back(new unsigned char[size + 1]);
    int b = 0;
    if (!Cipher::Base64::decode(back.get(), b, text.get(), e) || b != len ||
        (size > 0 && std::memcmp(back.get(), data, size) != 0))
        abort();
}

}  // namespace

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
    volatile unsigned sink = walk(reinterpret_cast<const unsigned char*>(text.get()), len, 0);
    (void)sink;
    base64(data, size);
    return 0;
}

// Decodes arbitrary text and checks the encode/decode round trip.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cipher/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
    return 0;
}

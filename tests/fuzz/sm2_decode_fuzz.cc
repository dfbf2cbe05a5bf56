// Hostile ciphertexts and key texts for SM2: decode must refuse or decrypt
// without reading outside its input, whatever the bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "cipher/mpi.h"
#include "cipher/sm2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool mask = data[0] & 1;
    static Cipher::Sm2* keys[2] = {new Cipher::Sm2(false), new Cipher::Sm2(true)};
    [[maybe_unused]] static bool ready = [] {
        for (Cipher::Sm2* s : keys)
            s->set_private_key("3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8");
        return true;
    }();
    Cipher::Sm2* sm2 = keys[mask];
    const int len = static_cast<int>(size - 1);
    int out_len = 0;
    if (sm2->decode(nullptr, out_len, data + 1, len)) {
        std::vector<unsigned char> out(out_len);
        sm2->decode(out.data(), out_len, data + 1, len);
    }
    // The same bytes as key and number text.
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    Cipher::Sm2 other(mask);
    other.set_private_key(text.c_str());
    other.set_public_key(text.c_str(), text.c_str());
    other.set_k(text.c_str());
    std::vector<Cipher::Limb> limbs(text.size() / 16 + 2);
    int count = 0, sign = 0;
    Cipher::mpi_from_hex(limbs.data(), count, sign, text.c_str());
    return 0;
}

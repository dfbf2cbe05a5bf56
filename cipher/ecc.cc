#include "cipher/ecc.h"

#include <cstring>

#include "cipher/sm3.h"

namespace Cipher {

void kdf(char* out, int out_len, const char* z, int z_len, char* scratch) {
    if (z_len > 0 && scratch != z) std::memmove(scratch, z, z_len);
    Sm3 sm3;
    unsigned int counter = 1;
    for (int done = 0; done < out_len; done += Sm3::DIGEST_SIZE, ++counter) {
        scratch[z_len] = static_cast<char>(counter >> 24);
        scratch[z_len + 1] = static_cast<char>(counter >> 16);
        scratch[z_len + 2] = static_cast<char>(counter >> 8);
        scratch[z_len + 3] = static_cast<char>(counter);
        sm3.reset();
        sm3.update(scratch, z_len + 4);
        sm3.final();
        const int take = out_len - done < Sm3::DIGEST_SIZE ? out_len - done : Sm3::DIGEST_SIZE;
        std::memcpy(out + done, sm3.digest, take);
    }
}

}  // namespace Cipher

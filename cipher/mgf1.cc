#include "cipher/mgf1.h"

#include <cstring>

#include "cipher/sha1.h"

namespace Cipher {

void Mgf1::calc_sha1(const char* seed, int seed_len, char* mask, int mask_len) {
    Sha1 sha;
    for (int done = 0, counter = 0; done < mask_len; ++counter) {
        const unsigned char c[4] = {
            static_cast<unsigned char>(counter >> 24), static_cast<unsigned char>(counter >> 16),
            static_cast<unsigned char>(counter >> 8), static_cast<unsigned char>(counter)};
        sha.reset();
        sha.update(seed, seed_len);
        sha.update(c, 4);
        sha.final();
        const int take = mask_len - done < Sha1::DIGEST_SIZE ? mask_len - done : Sha1::DIGEST_SIZE;
        std::memcpy(mask + done, sha.digest, take);
        done += take;
    }
}

}  // namespace Cipher

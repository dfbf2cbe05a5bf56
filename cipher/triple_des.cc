#include "cipher/triple_des.h"

namespace Cipher {

TripleDes::TripleDes(const unsigned char* k1, const unsigned char* k2, const unsigned char* k3)
    : Des(), k1_(k1), k2_(k2), k3_(k3) {}

TripleDes::~TripleDes() {}

unsigned long TripleDes::process(unsigned long block, char mode) {
    if (mode != 'e' && mode != 'd') return 0;
    // The final permutation of one pass and the initial permutation of the
    // next cancel out, so the three passes share one pair of them.
    const uint64_t x = initial_permutation(block);
    uint32_t l = static_cast<uint32_t>(x >> 32), r = static_cast<uint32_t>(x);
    if (mode == 'e') {
        rounds(k1_, l, r, false);
        rounds(k2_, l, r, true);
        rounds(k3_, l, r, false);
    } else {
        rounds(k3_, l, r, true);
        rounds(k2_, l, r, false);
        rounds(k1_, l, r, true);
    }
    return final_permutation((uint64_t(l) << 32) | r);
}

}  // namespace Cipher

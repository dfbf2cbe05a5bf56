// Random numbers.
#include "base/random.h"
#include "cipher/mpi.h"

namespace Cipher {

void mpi_gen_random(Base::Random* random, int bits, Limb* limbs, int& count) {
    if (bits <= 0) {
        count = 0;
        return;
    }
    count = (bits + 63) / 64;
    for (int i = 0; i < count; ++i) {
        const Limb high = random->next();
        const Limb low = random->next();
        limbs[i] = (high << 32) | low;
    }
    const int top_bit = (bits - 1) % 64;
    if (top_bit < 63) limbs[count - 1] &= (Limb(1) << (top_bit + 1)) - 1;
    limbs[count - 1] |= Limb(1) << top_bit;
}

}  // namespace Cipher

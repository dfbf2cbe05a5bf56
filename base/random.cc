#include "base/random.h"

#include <ctime>

namespace Base {

namespace {
constexpr uint32_t MODULUS = 0x7fffffff;  // 2^31 - 1, a Mersenne prime
constexpr uint64_t MULTIPLIER = 16807;
}  // namespace

void Random::seed(unsigned int s) {
    if (s == 0) s = static_cast<unsigned int>(time(nullptr));
    s &= MODULUS;
    if (s == 0 || s == MODULUS) s = 1;
    state_ = s;
}

unsigned int Random::next() {
    // x mod (2^31 - 1) == (x & (2^31 - 1)) + (x >> 31), folded once more at
    // most, since the product is below 2^46.
    uint64_t p = static_cast<uint64_t>(state_) * MULTIPLIER;
    uint64_t q = (p & MODULUS) + (p >> 31);
    if (q >= 0x80000000ULL) q -= MODULUS;
    state_ = static_cast<uint32_t>(q);
    return state_;
}

void Random::shuffle(unsigned int* order, unsigned int count, unsigned int seed) {
    if (count == 0) return;
    for (unsigned int i = 0; i < count; ++i) order[i] = i;
    if (count == 1) return;
    Random r(seed);
    for (unsigned int i = count - 1; i >= 1; --i) {
        unsigned int j = r.next() % (i + 1);
        if (j != i) {
            unsigned int t = order[j];
            order[j] = order[i];
            order[i] = t;
        }
    }
}

}  // namespace Base

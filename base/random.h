#ifndef XELMD_BASE_RANDOM_H
#define XELMD_BASE_RANDOM_H

#include <cstdint>

namespace Base {

// Park-Miller minimal standard generator: state = state * 16807 mod (2^31 - 1).
// One thread per object; shuffle() keeps its state on the stack.
// Invariant: the state stays in 1 .. 2^31 - 2.
class Random {
  public:
    explicit Random(unsigned int seed) { this->seed(seed); }

    // A seed of 0 takes the wall-clock second; seeds that reduce to 0 or to
    // the modulus would pin the generator, so they fall back to 1.
    void seed(unsigned int s);
    unsigned int next();

    // Fills order with a permutation of 0 .. count - 1 (Fisher-Yates driven
    // by a private generator seeded with seed).
    static void shuffle(unsigned int* order, unsigned int count, unsigned int seed);

  private:
    uint32_t state_;
};

}  // namespace Base

#endif  // XELMD_BASE_RANDOM_H

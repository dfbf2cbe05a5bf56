#ifndef XELMD_CIPHER_MPI_SCRATCH_H
#define XELMD_CIPHER_MPI_SCRATCH_H

#include <cstring>

#include "cipher/mpi.h"

namespace Cipher {

// Working limbs for the mpi routines: on the stack up to a size that covers
// the usual operands (RSA-4096 products), on the heap beyond it. Zeroed on
// release since the limbs may hold key material.
// Thread contract: a local of one call.
class MpiScratch {
  public:
    explicit MpiScratch(int limbs)
        : data_(limbs <= INLINE ? inline_ : new Limb[limbs]), size_(limbs) {
        std::memset(data_, 0, sizeof(Limb) * size_);
    }
    ~MpiScratch() {
        std::memset(data_, 0, sizeof(Limb) * size_);
        __asm__ __volatile__("" : : "r"(data_) : "memory");
        if (data_ != inline_) delete[] data_;
    }
    MpiScratch(const MpiScratch&) = delete;
    MpiScratch& operator=(const MpiScratch&) = delete;

    Limb* get() { return data_; }
    Limb& operator[](int i) { return data_[i]; }

  private:
    static constexpr int INLINE = 160;
    Limb inline_[INLINE];
    Limb* data_;
    int size_;
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_MPI_SCRATCH_H

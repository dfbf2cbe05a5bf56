#ifndef XELMD_CIPHER_SM2_FIELD_H
#define XELMD_CIPHER_SM2_FIELD_H

#include "cipher/mpi.h"

namespace Cipher {

// Scalar multiplication on the built-in SM2 curve with four-limb Montgomery
// arithmetic modulo its prime, on Jacobian points by the right-to-left
// binary method; results are affine, the point at infinity without limbs.
// Thread contract: any thread; the base-point table is built once on first
// use.
class Sm2Field {
  public:
    // (rx, ry) = k (x, y); x, y below 2^256, k of at most four limbs.
    static void mul(Limb* rx, int& rxn, Limb* ry, int& ryn, const Limb* x, int xn, const Limb* y,
                    int yn, const Limb* k, int kn);
    // (rx, ry) = k G from a table of the doublings of G.
    static void mul_base(Limb* rx, int& rxn, Limb* ry, int& ryn, const Limb* k, int kn);
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_SM2_FIELD_H

#ifndef XELMD_CIPHER_SM2_FIELD_H
#define XELMD_CIPHER_SM2_FIELD_H

#include "cipher/mpi.h"

namespace Cipher {

// Scalar multiplication on the built-in SM2 curve with four-limb Montgomery
// arithmetic modulo its prime. Results are the affine points the generic
// ecc_point_mul_jacobian computes for the same inputs (same method, same
// special cases), only faster.
// Thread contract: any thread; the base-point table is built once on first
// use.
class Sm2Field {
  public:
    // Whether (p, a) are the built-in prime and coefficient.
    static bool matches(const Limb* p, int pn, const Limb* a, int an);
    // Whether (x, y) is the built-in base point.
    static bool is_base(const Limb* x, int xn, const Limb* y, int yn);
    // (rx, ry) = k (x, y); x, y below 2^256, k of at most four limbs.
    static void mul(Limb* rx, int& rxn, Limb* ry, int& ryn, const Limb* x, int xn, const Limb* y,
                    int yn, const Limb* k, int kn);
    // (rx, ry) = k G from a table of the doublings of G.
    static void mul_base(Limb* rx, int& rxn, Limb* ry, int& ryn, const Limb* k, int kn);
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_SM2_FIELD_H

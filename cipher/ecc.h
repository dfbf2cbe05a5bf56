#ifndef XELMD_CIPHER_ECC_H
#define XELMD_CIPHER_ECC_H

#include "cipher/mpi.h"

namespace Cipher {

// Points of a short Weierstrass curve y^2 = x^3 + ax + b over the prime
// field of p. Every coordinate and parameter is a (limbs, count) pair; the
// point at infinity is the point whose coordinates have zero limbs (in
// Jacobian form, Z with zero limbs). Coordinates written by these functions
// are reduced modulo p; outputs need room for the limbs of p.
// Thread contract: pure functions; any thread.

bool ecc_coordinate_is_infinite(const Limb* c, int n);
void ecc_coordinate_set_infinite(Limb* c, int& n);
bool ecc_point_is_infinite(const Limb* x, int xn, const Limb* y, int yn);
void ecc_point_set_infinite(Limb* x, int& xn, Limb* y, int& yn);
bool ecc_point_equal(const Limb* x1, int x1n, const Limb* y1, int y1n, const Limb* x2, int x2n,
                     const Limb* y2, int y2n);
void ecc_point_copy(Limb* x, int& xn, Limb* y, int& yn, const Limb* sx, int sxn, const Limb* sy,
                    int syn);

// r = x^3 + ax + b mod p.
void ecc_point_y_square(Limb* r, int& rn, const Limb* x, int xn, const Limb* a, int an,
                        const Limb* b, int bn, const Limb* p, int pn);
// Whether (x, y) lies on the curve (the point at infinity does).
bool ecc_point_check(const Limb* x, int xn, const Limb* y, int yn, const Limb* a, int an,
                     const Limb* b, int bn, const Limb* p, int pn);
// A y with (x, y) on the curve; false when x is not the abscissa of a point.
bool ecc_point_y(Limb* y, int& yn, const Limb* x, int xn, const Limb* a, int an, const Limb* b,
                 int bn, const Limb* p, int pn);
// Whether (x2, y2) = -(x1, y1), i.e. same x and y2 = p - y1 (y = 0 is its
// own negative).
bool ecc_point_is_negative(const Limb* x1, int x1n, const Limb* y1, int y1n, const Limb* x2,
                           int x2n, const Limb* y2, int y2n, const Limb* p, int pn);
// (x, y) = -(x, y).
void ecc_point_set_negative(Limb* y, int& yn, const Limb* p, int pn);

// Affine forms: (x3, y3) = (x1, y1) + (x2, y2); (rx, ry) = k (x, y).
void ecc_point_add(Limb* x3, int& x3n, Limb* y3, int& y3n, const Limb* x1, int x1n, const Limb* y1,
                   int y1n, const Limb* x2, int x2n, const Limb* y2, int y2n, const Limb* a, int an,
                   const Limb* p, int pn);
void ecc_point_mul(Limb* rx, int& rxn, Limb* ry, int& ryn, const Limb* x, int xn, const Limb* y,
                   int yn, const Limb* k, int kn, const Limb* a, int an, const Limb* p, int pn);

// Jacobian forms (x = X / Z^2, y = Y / Z^3), in place: P = 2P; P1 = P1 + P2.
void ecc_point_double_jacobian(Limb* x, int& xn, Limb* y, int& yn, Limb* z, int& zn, const Limb* a,
                               int an, const Limb* p, int pn);
void ecc_point_add_jacobian(Limb* x1, int& x1n, Limb* y1, int& y1n, Limb* z1, int& z1n,
                            const Limb* x2, int x2n, const Limb* y2, int y2n, const Limb* z2,
                            int z2n, const Limb* a, int an, const Limb* p, int pn);
// (rx, ry) = k (x, y) in affine coordinates, computed on Jacobian ones by
// the right-to-left binary method; k = 1 returns the input unchanged.
void ecc_point_mul_jacobian(Limb* rx, int& rxn, Limb* ry, int& ryn, const Limb* x, int xn,
                            const Limb* y, int yn, const Limb* k, int kn, const Limb* a, int an,
                            const Limb* p, int pn);

// SM2 key derivation: SM3(z || counter) for counter = 1, 2, ... (4 bytes
// big-endian), concatenated and cut to out_len. scratch holds z_len + 4
// bytes.
void kdf(char* out, int out_len, const char* z, int z_len, char* scratch);

}  // namespace Cipher

#endif  // XELMD_CIPHER_ECC_H

#ifndef XELMD_CIPHER_MPI_H
#define XELMD_CIPHER_MPI_H

#include <cstdint>
#include <cstdio>

namespace Base {
class Random;
}

namespace Cipher {

// Raw unsigned big-integer routines. A number is an array of 64-bit limbs,
// least significant first, with a separate limb count (0 is zero). Results
// go to caller-supplied arrays with enough room; leading zero limbs are
// allowed on input and dropped on output unless a routine says otherwise.
// Signed forms carry a separate sign (1 for negative).
// Thread contract: pure functions; any thread.
using Limb = uint64_t;

// Operands with at least this many limbs (the shorter one) are multiplied
// by Karatsuba's method.
constexpr int MPI_KARATSUBA_LIMBS = 16;

// Significant limbs of a[0..n): n less the zero limbs at the top.
inline int mpi_top(const Limb* a, int n) {
    while (n > 0 && a[n - 1] == 0) --n;
    return n;
}
int mpi_get_bits(const Limb* a, int n);
void mpi_normalize(const Limb* a, int& n);
int mpi_cmp(const Limb* a, int na, const Limb* b, int nb);
bool mpi_is_zero(const Limb* a, int n);
bool mpi_equal_num(const Limb* a, int n, Limb value);

// One bit, in place; shift_left may grow n by one limb (room required).
void mpi_shift_left(Limb* a, int& n);
void mpi_shift_right(Limb* a, int& n);
// Any number of bits; r may equal a.
void mpi_shift_left(Limb* r, int& rn, const Limb* a, int na, int bits);
void mpi_shift_right(Limb* r, int& rn, const Limb* a, int na, int bits);

// r = a + b (room max(na, nb) + 1); r may equal a or b.
void mpi_add(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb);
// r = a - b for a >= b (room na); r may equal a or b.
void mpi_sub(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb);
// Signed forms: (r, rs) = (a, as) +/- (b, bs); room max(na, nb) + 1.
void mpi_add(Limb* r, int& rn, int& rs, const Limb* a, int na, int as, const Limb* b, int nb,
             int bs);
void mpi_sub(Limb* r, int& rn, int& rs, const Limb* a, int na, int as, const Limb* b, int nb,
             int bs);

// r = a * b (room na + nb; r distinct from a and b). mpi_mul picks the
// method; the other two force one.
void mpi_mul(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb);
void mpi_mul_schoolbook(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb);
void mpi_mul_karatsuba(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb);

// q = a / b (room na - nb + 1), r = a mod b (room nb); either may be null;
// b must not be zero. Outputs may equal the inputs.
void mpi_div(Limb* q, int& qn, Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb);
void mpi_mod(Limb* r, int& rn, const Limb* a, int na, const Limb* m, int nm);

// r = gcd(a, b) (room min(na, nb), or the non-zero one's size).
void mpi_gcd(Limb* r, int& rn, const Limb* a, int na, const Limb* b, int nb);
// r = a^-1 mod m (room nm); false when a and m are not coprime.
bool mpi_inverse(Limb* r, int& rn, const Limb* a, int na, const Limb* m, int nm);

// Montgomery arithmetic modulo an odd m of n limbs, R = 2^(64n).
// minv = -m^-1 mod 2^64 (mpi_mont_setup). r = a * b / R mod m for a, b < m,
// all n limbs wide; r may equal a or b.
Limb mpi_mont_setup(Limb m0);
void mpi_mont_mul(Limb* r, const Limb* a, const Limb* b, const Limb* m, int n, Limb minv);
// r = a^e mod m for odd m (room nm).
void mpi_mont_power(Limb* r, int& rn, const Limb* a, int na, const Limb* e, int ne, const Limb* m,
                    int nm);
// r = a^e mod m for any m > 0 (room nm); odd moduli go through Montgomery.
void mpi_power_mod(Limb* r, int& rn, const Limb* a, int na, const Limb* e, int ne, const Limb* m,
                   int nm);

// r = floor(sqrt(a)) (room na / 2 + 1).
void mpi_square_root(Limb* r, int& rn, const Limb* a, int na);
// r^2 = a mod p for an odd prime p (room np); false when a is not a square.
bool mpi_square_root(Limb* r, int& rn, const Limb* a, int na, const Limb* p, int np);

// A number of exactly `bits` bits (top bit set) from two 32-bit draws per
// limb, the first draw as the high half; count = ceil(bits / 64).
void mpi_gen_random(Base::Random* random, int bits, Limb* limbs, int& count);
// Odd candidates: trial division by the small primes, then `rounds` rounds
// of Miller-Rabin. Even numbers (2 included) are rejected.
bool mpi_is_prime(const Limb* limbs, int count, int rounds);
void mpi_gen_prime(Base::Random* random, int bits, int rounds, Limb* limbs, int& count);

// The 668 odd primes 3 .. 4999.
constexpr int SMALL_PRIME_COUNT = 668;
extern const uint16_t g_small_prime_numbers[SMALL_PRIME_COUNT];

// Text: 16 hex digits per limb, most significant limb first, leading zeros
// kept; "-" for sign 1, then "0x" with prefix. Returns the length (without
// the NUL); a null out only computes it.
int mpi_to_hex(const Limb* limbs, int count, int sign, char* out, bool upper, bool prefix);
// Reads an optional "-" and "0x", then strlen / 16 limbs of 16 digits each.
// A null limbs only computes count. False on a character that is not a hex
// digit.
bool mpi_from_hex(Limb* limbs, int& count, int& sign, const char* text);
// Decimal text with an optional "-"; zero is "0".
int mpi_to_dec(const Limb* limbs, int count, int sign, char* out);
bool mpi_from_dec(Limb* limbs, int& count, int& sign, const char* text);
// Big-endian bytes: 8 per limb, or the shortest form with trim (zero is no
// bytes). A null out only computes length.
void mpi_to_bytes(const Limb* limbs, int count, unsigned char* out, int& length, bool trim);
// count becomes (length - 1) / 8 + 1; a null limbs only computes it.
void mpi_from_bytes(Limb* limbs, int& count, const unsigned char* in, int length);
// Writes the upper-case hex form with prefix and a newline.
void mpi_output(FILE* file, const Limb* limbs, int count, int sign);

}  // namespace Cipher

#endif  // XELMD_CIPHER_MPI_H

#ifndef XELMD_CIPHER_MPINT_H
#define XELMD_CIPHER_MPINT_H

#include <cstdio>

#include "cipher/mpi.h"

namespace Base {
class Random;
}

namespace Cipher {

// A signed big integer over the mpi_* routines. Copies are deep; a default
// object holds no value record and reads as zero.
// Thread contract: one thread per object; distinct objects are independent.
class MPInt {
  public:
    struct Value {
        int capacity;  // limbs allocated
        int size;      // limbs in use
        int sign;      // 1 for negative
        Limb limbs[1];
    };

    MPInt() : value_(nullptr) {}
    MPInt(unsigned long v);  // NOLINT: numbers convert implicitly
    MPInt(const MPInt& other);
    MPInt& operator=(const MPInt& other);
    ~MPInt();

    // Room for `capacity` limbs, value kept.
    void alloc(int capacity);
    // `size` limbs in use; new ones are zero.
    void resize(int size);
    void copy(const MPInt& other);
    void set(long v);
    void set_uint64(unsigned long v);
    unsigned long get_uint64() const;
    void assign(const Limb* limbs, int count, int sign);
    void clear();
    void neg();
    void abs();

    void add(const MPInt& other);
    void add(unsigned long v);
    void sub(const MPInt& other);
    void sub(unsigned long v);
    void mul(const MPInt& other);
    // this = this / divisor truncated toward zero; the remainder (sign of the
    // dividend) goes to remainder when given. -1 for a zero divisor.
    int div(const MPInt* divisor, MPInt* remainder);
    void shift_left();
    void shift_right();
    int cmp(const MPInt& other) const;

    // Hex (any number of digits, optional "-" and "0x") or decimal text.
    bool from_str(const char* text, bool hex = true);
    // Upper-case hex of whole limbs ("0" for zero) or decimal; returns the
    // length, a null out only computes it.
    int to_str(char* out, bool hex = true) const;
    void output(FILE* file) const;

    bool is_zero() const;
    bool is_prime(int rounds) const;
    bool is_safe_prime() const;
    void gen_random(Base::Random* random, int bits);
    void gen_prime(Base::Random* random, int bits, int rounds);
    // Big-endian magnitude, shortest form; sign separately.
    void to_bytes(void* out, int& length, int& sign) const;
    void from_bytes(const void* in, int length, int sign);

    int size() const { return value_ ? value_->size : 0; }
    int sign() const { return value_ ? value_->sign : 0; }
    const Limb* limbs() const { return value_ ? value_->limbs : nullptr; }
    Limb* limbs() { return value_ ? value_->limbs : nullptr; }

  private:
    void normalize();
    void add_signed(const Limb* b, int nb, int bs);

    Value* value_;
};

// 0, 1, 2, 3, 4, built at program start.
extern const MPInt g_small_mpints[5];

}  // namespace Cipher

#endif  // XELMD_CIPHER_MPINT_H

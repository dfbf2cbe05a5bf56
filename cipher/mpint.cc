#include "cipher/mpint.h"

#include <cstdlib>
#include <cstring>

#include "cipher/mpi_scratch.h"

namespace Cipher {

const MPInt g_small_mpints[5] = {MPInt(0ul), MPInt(1ul), MPInt(2ul), MPInt(3ul), MPInt(4ul)};

namespace {

MPInt::Value* allocate(int capacity) {
    if (capacity < 1) capacity = 1;
    const size_t bytes = sizeof(MPInt::Value) + sizeof(Limb) * (capacity - 1);
    auto* v = static_cast<MPInt::Value*>(std::malloc(bytes));
    if (v == nullptr) std::abort();
    std::memset(v, 0, bytes);
    v->capacity = capacity;
    return v;
}

void release(MPInt::Value* v) {
    if (v == nullptr) return;
    std::memset(v->limbs, 0, sizeof(Limb) * v->capacity);
    __asm__ __volatile__("" : : "r"(v) : "memory");
    std::free(v);
}

}  // namespace

MPInt::MPInt(unsigned long v) : value_(nullptr) {
    set_uint64(v);
}

MPInt::MPInt(const MPInt& other) : value_(nullptr) {
    copy(other);
}

MPInt& MPInt::operator=(const MPInt& other) {
    if (this != &other) copy(other);
    return *this;
}

MPInt::~MPInt() {
    release(value_);
}

void MPInt::alloc(int capacity) {
    if (value_ != nullptr && value_->capacity >= capacity) return;
    Value* v = allocate(capacity);
    if (value_ != nullptr) {
        v->size = value_->size;
        v->sign = value_->sign;
        std::memcpy(v->limbs, value_->limbs, sizeof(Limb) * value_->size);
        release(value_);
    }
    value_ = v;
}

void MPInt::resize(int size) {
    if (size < 0) size = 0;
    alloc(size);
    for (int i = value_->size; i < size; ++i) value_->limbs[i] = 0;
    value_->size = size;
}

void MPInt::copy(const MPInt& other) {
    if (this == &other) return;
    if (other.size() == 0) {
        clear();
        return;
    }
    assign(other.limbs(), other.size(), other.sign());
}

void MPInt::set(long v) {
    set_uint64(v < 0 ? 0ul - static_cast<unsigned long>(v) : static_cast<unsigned long>(v));
    if (v < 0) value_->sign = 1;
}

void MPInt::set_uint64(unsigned long v) {
    alloc(1);
    value_->limbs[0] = v;
    value_->size = 1;
    value_->sign = 0;
}

unsigned long MPInt::get_uint64() const {
    return size() > 0 ? value_->limbs[0] : 0;
}

void MPInt::assign(const Limb* limbs, int count, int sign) {
    if (count < 0) count = 0;
    alloc(count);
    if (count > 0) std::memmove(value_->limbs, limbs, sizeof(Limb) * count);
    value_->size = count;
    value_->sign = sign == 1 ? 1 : 0;
    normalize();
}

void MPInt::clear() {
    if (value_ == nullptr) return;
    value_->size = 0;
    value_->sign = 0;
}

void MPInt::neg() {
    if (!is_zero()) value_->sign ^= 1;
}

void MPInt::abs() {
    if (value_ != nullptr) value_->sign = 0;
}

void MPInt::normalize() {
    if (value_ == nullptr) return;
    mpi_normalize(value_->limbs, value_->size);
    if (value_->size == 0) value_->sign = 0;
}

void MPInt::add_signed(const Limb* b, int nb, int bs) {
    const int room = (size() > nb ? size() : nb) + 1;
    alloc(room);
    mpi_add(value_->limbs, value_->size, value_->sign, value_->limbs, value_->size, value_->sign, b,
            nb, bs);
}

void MPInt::add(const MPInt& other) {
    if (&other == this) {
        shift_left();
        return;
    }
    add_signed(other.limbs(), other.size(), other.sign());
}

void MPInt::add(unsigned long v) {
    add_signed(&v, 1, 0);
}

void MPInt::sub(const MPInt& other) {
    if (&other == this) {
        clear();
        return;
    }
    add_signed(other.limbs(), other.size(), other.sign() ^ 1);
}

void MPInt::sub(unsigned long v) {
    add_signed(&v, 1, 1);
}

void MPInt::mul(const MPInt& other) {
    const int n = size() + other.size();
    if (size() == 0 || other.size() == 0) {
        clear();
        return;
    }
    MpiScratch prod(n);
    int pn = 0;
    mpi_mul(prod.get(), pn, limbs(), size(), other.limbs(), other.size());
    const int s = sign() ^ other.sign();
    assign(prod.get(), pn, s);
}

int MPInt::div(const MPInt* divisor, MPInt* remainder) {
    if (divisor == nullptr || divisor->is_zero()) return -1;
    if (is_zero()) {
        if (remainder != nullptr) remainder->clear();
        return 0;
    }
    const int na = size(), nb = divisor->size();
    MpiScratch q(na + 1), r(nb + 1);
    int qn = 0, rn = 0;
    mpi_div(q.get(), qn, r.get(), rn, limbs(), na, divisor->limbs(), nb);
    const int as = sign(), bs = divisor->sign();
    if (remainder != nullptr) remainder->assign(r.get(), rn, as);
    assign(q.get(), qn, as ^ bs);
    return 0;
}

void MPInt::shift_left() {
    if (is_zero()) return;
    alloc(size() + 1);
    mpi_shift_left(value_->limbs, value_->size);
}

void MPInt::shift_right() {
    if (is_zero()) return;
    mpi_shift_right(value_->limbs, value_->size);
    if (value_->size == 0) value_->sign = 0;
}

int MPInt::cmp(const MPInt& other) const {
    const int as = is_zero() ? 0 : sign(), bs = other.is_zero() ? 0 : other.sign();
    if (as != bs) return as ? -1 : 1;
    const int c = mpi_cmp(limbs(), size(), other.limbs(), other.size());
    return as ? -c : c;
}

bool MPInt::from_str(const char* text, bool hex) {
    int sign = 0;
    if (*text == '-') {
        sign = 1;
        ++text;
    }
    if (hex && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    const int digits = static_cast<int>(std::strlen(text));
    bool ok = digits > 0;
    if (hex) {
        // Left-pad to whole limbs of 16 digits.
        const int padded = (digits + 15) / 16 * 16;
        MpiScratch buf(padded / 8 + 1);
        char* s = reinterpret_cast<char*>(buf.get());
        std::memset(s, '0', padded - digits);
        std::memcpy(s + padded - digits, text, digits + 1);
        int count = 0, unused = 0;
        alloc(padded / 16);
        ok = mpi_from_hex(value_->limbs, count, unused, s) && ok;
        value_->size = count;
    } else {
        alloc(digits / 19 + 1);
        int count = 0, unused = 0;
        ok = mpi_from_dec(value_->limbs, count, unused, text) && ok;
        value_->size = count;
    }
    value_->sign = sign;
    normalize();
    if (!ok) clear();
    return ok;
}

int MPInt::to_str(char* out, bool hex) const {
    if (!hex) return mpi_to_dec(limbs(), size(), sign(), out);
    if (is_zero()) {
        if (out) std::memcpy(out, "0", 2);
        return 1;
    }
    return mpi_to_hex(limbs(), size(), sign(), out, true, false);
}

void MPInt::output(FILE* file) const {
    mpi_output(file, limbs(), size(), sign());
}

bool MPInt::is_zero() const {
    return value_ == nullptr || mpi_is_zero(value_->limbs, value_->size);
}

bool MPInt::is_prime(int rounds) const {
    return sign() == 0 && mpi_is_prime(limbs(), size(), rounds);
}

bool MPInt::is_safe_prime() const {
    if (!is_prime(20)) return false;
    MPInt half(*this);
    half.sub(1ul);
    half.shift_right();
    return half.is_prime(20);
}

void MPInt::gen_random(Base::Random* random, int bits) {
    alloc((bits + 63) / 64);
    mpi_gen_random(random, bits, value_->limbs, value_->size);
    value_->sign = 0;
}

void MPInt::gen_prime(Base::Random* random, int bits, int rounds) {
    alloc((bits + 63) / 64);
    mpi_gen_prime(random, bits, rounds, value_->limbs, value_->size);
    value_->sign = 0;
}

void MPInt::to_bytes(void* out, int& length, int& sign) const {
    sign = this->sign();
    mpi_to_bytes(limbs(), size(), static_cast<unsigned char*>(out), length, true);
}

void MPInt::from_bytes(const void* in, int length, int sign) {
    if (length <= 0) {
        clear();
        return;
    }
    alloc((length - 1) / 8 + 1);
    mpi_from_bytes(value_->limbs, value_->size, static_cast<const unsigned char*>(in), length);
    value_->sign = sign == 1 ? 1 : 0;
    normalize();
}

}  // namespace Cipher

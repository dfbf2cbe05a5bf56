#include "cipher/sm2.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/measure.h"
#include "cipher/ecc.h"
#include "cipher/sm2_field.h"
#include "cipher/sm3.h"

namespace Cipher {

namespace {

const char* const BUILTIN_P = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF";
const char* const BUILTIN_A = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC";
const char* const BUILTIN_B = "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93";
const char* const BUILTIN_N = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";
const char* const BUILTIN_GX = "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7";
const char* const BUILTIN_GY = "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0";

constexpr int NUMBER_COUNT = 14;  // ten named numbers and four work points

unsigned int clock_seed(const void* self) {
    const uint64_t mixed = Base::Measure::get_clock() ^ reinterpret_cast<uintptr_t>(self);
    return static_cast<unsigned int>(mixed);
}

}  // namespace

Sm2::Sm2(bool mask) : random_(clock_seed(this)), bits_(0), mask_(mask) {
    init(BUILTIN_P, BUILTIN_A, BUILTIN_B, BUILTIN_N, BUILTIN_GX, BUILTIN_GY);
}

Sm2::Sm2(const char* p, const char* a, const char* b, const char* n, const char* gx, const char* gy,
         bool mask)
    : random_(clock_seed(this)), bits_(0), mask_(mask) {
    init(p, a, b, n, gx, gy);
}

Sm2::~Sm2() {
    std::memset(storage_, 0, sizeof(Limb) * width_ * NUMBER_COUNT);
    __asm__ __volatile__("" : : "r"(storage_) : "memory");
    delete[] storage_;
}

void Sm2::init(const char* p, const char* a, const char* b, const char* n, const char* gx,
               const char* gy) {
    width_ = static_cast<int>(std::strlen(p) / 16);
    if (width_ < 1) width_ = 1;  // malformed curve text: keep the object safe to use
    storage_ = new Limb[width_ * NUMBER_COUNT]();
    Number* numbers[] = {&p_,  &a_,  &b_, &n_,       &gx_,      &gy_,      &d_,
                         &px_, &py_, &k_, &work_[0], &work_[1], &work_[2], &work_[3]};
    for (int i = 0; i < NUMBER_COUNT; ++i) *numbers[i] = Number{storage_ + i * width_, 0};
    parse(p_, p);
    parse(a_, a);
    parse(b_, b);
    parse(n_, n);
    parse(gx_, gx);
    parse(gy_, gy);
    bits_ = mpi_get_bits(p_.limbs, p_.count);
    fast_ = width_ == 4 && Sm2Field::matches(p_.limbs, p_.count, a_.limbs, a_.count);
    fast_base_ = fast_ && Sm2Field::is_base(gx_.limbs, gx_.count, gy_.limbs, gy_.count);
}

bool Sm2::parse(Number& number, const char* hex) const {
    int count = 0, sign = 0;
    mpi_from_hex(nullptr, count, sign, hex);
    if (count > width_) {
        assign(number, nullptr, 0);
        return false;
    }
    std::memset(number.limbs, 0, sizeof(Limb) * width_);
    const bool ok = mpi_from_hex(number.limbs, count, sign, hex);
    number.count = count;
    mpi_normalize(number.limbs, number.count);
    return ok;
}

// Copies (limbs, count) and zeroes the rest: the masking reads all limbs.
void Sm2::assign(Number& number, const Limb* limbs, int count) const {
    if (count > 0 && number.limbs != limbs) std::memmove(number.limbs, limbs, sizeof(Limb) * count);
    std::memset(number.limbs + count, 0, sizeof(Limb) * (width_ - count));
    number.count = count;
    mpi_normalize(number.limbs, number.count);
}

void Sm2::scalar_mul(Number& rx, Number& ry, const Number& x, const Number& y, const Number& k) {
    int xn = 0, yn = 0;
    if (fast_)
        Sm2Field::mul(rx.limbs, xn, ry.limbs, yn, x.limbs, x.count, y.limbs, y.count, k.limbs,
                      k.count);
    else
        ecc_point_mul_jacobian(rx.limbs, xn, ry.limbs, yn, x.limbs, x.count, y.limbs, y.count,
                               k.limbs, k.count, a_.limbs, a_.count, p_.limbs, p_.count);
    assign(rx, rx.limbs, xn);
    assign(ry, ry.limbs, yn);
}

void Sm2::base_mul(Number& rx, Number& ry, const Number& k) {
    if (!fast_base_) {
        scalar_mul(rx, ry, gx_, gy_, k);
        return;
    }
    int xn = 0, yn = 0;
    Sm2Field::mul_base(rx.limbs, xn, ry.limbs, yn, k.limbs, k.count);
    assign(rx, rx.limbs, xn);
    assign(ry, ry.limbs, yn);
}

void Sm2::reduce_private_key() {
    while (mpi_cmp(d_.limbs, d_.count, n_.limbs, n_.count) >= 0 && d_.count > 0)
        mpi_shift_right(d_.limbs, d_.count);
    assign(d_, d_.limbs, d_.count);
    base_mul(px_, py_, d_);
}

bool Sm2::set_private_key(const char* hex) {
    const bool ok = parse(d_, hex);
    reduce_private_key();
    return ok;
}

bool Sm2::set_public_key(const char* x_hex, const char* y_hex) {
    const bool x_ok = parse(px_, x_hex);
    const bool y_ok = parse(py_, y_hex);
    return x_ok && y_ok;
}

void Sm2::gen_keys() {
    int count = 0;
    mpi_gen_random(&random_, bits_ - 1, d_.limbs, count);
    assign(d_, d_.limbs, count);
    reduce_private_key();
}

void Sm2::get_public_key(char* x, char* y) const {
    mpi_to_hex(px_.limbs, px_.count, 0, x, true, false);
    mpi_to_hex(py_.limbs, py_.count, 0, y, true, false);
}

bool Sm2::set_k(const char* hex) {
    return parse(k_, hex);
}

void Sm2::gen_k() {
    int count = 0;
    mpi_gen_random(&random_, bits_ - 1, k_.limbs, count);
    assign(k_, k_.limbs, count);
}

// Big-endian, 8 bytes per limb of the curve width.
void Sm2::coordinate_bytes(unsigned char* out, const Number& c) const {
    int length = 0;
    mpi_to_bytes(c.limbs, width_, out, length, false);
}

// XOR the first 8w bytes with px and the last 8w with py, both as their
// limbs lie in memory (least significant byte first).
void Sm2::apply_mask(unsigned char* data, int length) const {
    const int cb = 8 * width_;
    for (int i = 0; i < cb; ++i) {
        data[i] ^= static_cast<unsigned char>(px_.limbs[i / 8] >> (8 * (i % 8)));
        data[length - cb + i] ^= static_cast<unsigned char>(py_.limbs[i / 8] >> (8 * (i % 8)));
    }
}

void Sm2::encode(unsigned char* out, int& out_len, const unsigned char* in, int in_len) {
    if (in_len < 0) in_len = 0;
    out_len = in_len + overhead();
    if (out == nullptr) return;
    const int cb = 8 * width_;
    Number &x1 = work_[0], &y1 = work_[1], &x2 = work_[2], &y2 = work_[3];
    base_mul(x1, y1, k_);
    scalar_mul(x2, y2, px_, py_, k_);
    out[0] = 0x04;
    coordinate_bytes(out + 1, x1);
    coordinate_bytes(out + 1 + cb, y1);
    std::vector<char> z(2 * cb + 4);
    coordinate_bytes(reinterpret_cast<unsigned char*>(z.data()), x2);
    coordinate_bytes(reinterpret_cast<unsigned char*>(z.data()) + cb, y2);
    unsigned char* c2 = out + 1 + 2 * cb;
    std::vector<char> scratch(2 * cb + 4);
    kdf(reinterpret_cast<char*>(c2), in_len, z.data(), 2 * cb, scratch.data());
    for (int i = 0; i < in_len; ++i) c2[i] ^= in[i];
    Sm3 sm3;
    sm3.update(z.data(), cb);
    sm3.update(in, in_len);
    sm3.update(z.data() + cb, cb);
    sm3.final();
    std::memcpy(c2 + in_len, sm3.digest, Sm3::DIGEST_SIZE);
    if (mask_) apply_mask(out, out_len);
}

bool Sm2::decode(unsigned char* out, int& out_len, const unsigned char* in, int in_len) {
    out_len = in_len - overhead();
    if (out_len < 1) return false;
    if (out == nullptr) return true;
    const int cb = 8 * width_;
    std::vector<unsigned char> unmasked;
    if (mask_) {
        unmasked.assign(in, in + in_len);
        apply_mask(unmasked.data(), in_len);
        in = unmasked.data();
    }
    if (in[0] != 0x04) return false;
    Number &x1 = work_[0], &y1 = work_[1], &x2 = work_[2], &y2 = work_[3];
    int count = 0;
    mpi_from_bytes(x1.limbs, count, in + 1, cb);
    assign(x1, x1.limbs, count);
    mpi_from_bytes(y1.limbs, count, in + 1 + cb, cb);
    assign(y1, y1.limbs, count);
    scalar_mul(x2, y2, x1, y1, d_);
    std::vector<char> z(2 * cb + 4), scratch(2 * cb + 4);
    coordinate_bytes(reinterpret_cast<unsigned char*>(z.data()), x2);
    coordinate_bytes(reinterpret_cast<unsigned char*>(z.data()) + cb, y2);
    kdf(reinterpret_cast<char*>(out), out_len, z.data(), 2 * cb, scratch.data());
    const unsigned char* c2 = in + 1 + 2 * cb;
    for (int i = 0; i < out_len; ++i) out[i] ^= c2[i];
    Sm3 sm3;
    sm3.update(z.data(), cb);
    sm3.update(out, out_len);
    sm3.update(z.data() + cb, cb);
    sm3.final();
    unsigned char diff = 0;
    for (int i = 0; i < Sm3::DIGEST_SIZE; ++i) diff |= sm3.digest[i] ^ c2[out_len + i];
    return diff == 0;
}

}  // namespace Cipher

#include "cipher/rsa.h"

#include <cstdint>
#include <cstring>

#include "base/measure.h"
#include "base/random.h"
#include "cipher/mgf1.h"
#include "cipher/sha1.h"

namespace Cipher {

namespace {

const int HASH_LEN = Sha1::DIGEST_SIZE;

// SHA-1 of the empty label.
const unsigned char kEmptyLabelHash[HASH_LEN] = {0xda, 0x39, 0xa3, 0xee, 0x5e, 0x6b, 0x4b,
                                                 0x0d, 0x32, 0x55, 0xbf, 0xef, 0x95, 0x60,
                                                 0x18, 0x90, 0xaf, 0xd8, 0x07, 0x09};

bool load(Limb* limbs, int& count, const char* bytes, int len) {
    if (len <= 0) {
        count = 0;
        return true;
    }
    if ((len - 1) / 8 + 1 > Rsa::MAX_LIMBS) return false;
    mpi_from_bytes(limbs, count, reinterpret_cast<const unsigned char*>(bytes), len);
    mpi_normalize(limbs, count);
    return true;
}

void store(const Limb* limbs, int count, char* out, int& len) {
    mpi_to_bytes(limbs, count, reinterpret_cast<unsigned char*>(out), len, true);
}

void xor_into(unsigned char* dst, const unsigned char* mask, int len) {
    for (int i = 0; i < len; ++i) dst[i] ^= mask[i];
}

void mgf1_xor(unsigned char* dst, int dst_len, const unsigned char* seed, int seed_len,
              unsigned char* scratch) {
    Mgf1::calc_sha1(reinterpret_cast<const char*>(seed), seed_len, reinterpret_cast<char*>(scratch),
                    dst_len);
    xor_into(dst, scratch, dst_len);
}

}  // namespace

Rsa::Rsa() : n_count_(0), e_count_(0), d_count_(0) {
    std::memset(n_, 0, sizeof n_);
    std::memset(e_, 0, sizeof e_);
    std::memset(d_, 0, sizeof d_);
}

Rsa::~Rsa() {
    explicit_bzero(d_, sizeof d_);
}

bool Rsa::set_keys(const char* n, int n_len, const char* e, int e_len, const char* d, int d_len) {
    if ((n && (n_len - 1) / 8 + 1 > MAX_LIMBS) || (e && (e_len - 1) / 8 + 1 > MAX_LIMBS) ||
        (d && (d_len - 1) / 8 + 1 > MAX_LIMBS))
        return false;
    if (n) load(n_, n_count_, n, n_len);
    if (e) load(e_, e_count_, e, e_len);
    if (d) load(d_, d_count_, d, d_len);
    return true;
}

void Rsa::get_keys(char* n, int& n_len, char* e, int& e_len, char* d, int& d_len) const {
    store(n_, n_count_, n, n_len);
    store(e_, e_count_, e, e_len);
    store(d_, d_count_, d, d_len);
}

bool Rsa::gen_keys(const char* p, int p_len, const char* q, int q_len) {
    Limb pl[MAX_LIMBS], ql[MAX_LIMBS];
    int pn = 0, qn = 0;
    if (p == nullptr || q == nullptr || !load(pl, pn, p, p_len) || !load(ql, qn, q, q_len))
        return false;
    const Limb three = 3;
    if (mpi_cmp(pl, pn, &three, 1) < 0 || mpi_cmp(ql, qn, &three, 1) < 0 || pn + qn > MAX_LIMBS)
        return false;
    Limb n[MAX_LIMBS], phi[MAX_LIMBS], e[2], d[MAX_LIMBS], g[MAX_LIMBS];
    int nn = 0, phin = 0, en = 0, dn = 0, gn = 0;
    mpi_mul(n, nn, pl, pn, ql, qn);
    const Limb one = 1;
    mpi_sub(pl, pn, pl, pn, &one, 1);
    mpi_sub(ql, qn, ql, qn, &one, 1);
    mpi_mul(phi, phin, pl, pn, ql, qn);
    Base::Random random(
        static_cast<unsigned int>(Base::Measure::get_clock() ^ reinterpret_cast<uintptr_t>(this)));
    // A random odd exponent of 32 bits; tries until one is coprime to the
    // totient (one in a few for primes of any size).
    for (int tries = 0;; ++tries) {
        if (tries == 1000) return false;
        mpi_gen_random(&random, 32, e, en);
        e[0] |= 1;
        mpi_gcd(g, gn, e, en, phi, phin);
        if (mpi_equal_num(g, gn, 1) && mpi_inverse(d, dn, e, en, phi, phin)) break;
    }
    std::memcpy(n_, n, sizeof(Limb) * nn);
    n_count_ = nn;
    std::memcpy(e_, e, sizeof(Limb) * en);
    e_count_ = en;
    std::memcpy(d_, d, sizeof(Limb) * dn);
    d_count_ = dn;
    explicit_bzero(d, sizeof d);
    explicit_bzero(phi, sizeof phi);
    return true;
}

bool Rsa::power(unsigned char* out, const unsigned char* in, int in_len, const Limb* exp,
                int exp_count) {
    const int k = modulus_bytes();
    if (n_count_ == 0 || exp_count == 0 || in_len <= 0 || in_len > k) return false;
    Limb x[MAX_LIMBS], r[MAX_LIMBS];
    int xn = 0, rn = 0;
    mpi_from_bytes(x, xn, in, in_len);
    mpi_normalize(x, xn);
    if (mpi_cmp(x, xn, n_, n_count_) >= 0) return false;
    mpi_power_mod(r, rn, x, xn, exp, exp_count, n_, n_count_);
    std::memset(r + rn, 0, sizeof(Limb) * (n_count_ - rn));
    int len = 0;
    mpi_to_bytes(r, n_count_, out, len, false);  // exactly k bytes
    explicit_bzero(x, sizeof(Limb) * n_count_);
    return true;
}

bool Rsa::encode(void* out, int& out_len, const void* in, int in_len) {
    out_len = modulus_bytes();
    if (out == nullptr) return n_count_ > 0;
    return power(static_cast<unsigned char*>(out), static_cast<const unsigned char*>(in), in_len,
                 e_, e_count_);
}

bool Rsa::decode(void* out, int& out_len, const void* in, int in_len) {
    out_len = modulus_bytes();
    if (out == nullptr) return n_count_ > 0;
    return power(static_cast<unsigned char*>(out), static_cast<const unsigned char*>(in), in_len,
                 d_, d_count_);
}

bool Rsa::encode_oaep(char* out, int& out_len, const char* in, int in_len) {
    const int k = modulus_bytes();
    const int chunk = k - OAEP_OVERHEAD;
    if (chunk <= 0) {
        out_len = -1;
        return false;
    }
    if (in_len < 0) in_len = 0;
    out_len = (in_len + chunk - 1) / chunk * k;
    if (out == nullptr || in_len == 0) return true;
    // Seeded once per call from the clock and this object's address.
    Base::Random random(
        static_cast<unsigned int>(Base::Measure::get_clock() ^ reinterpret_cast<uintptr_t>(this)));
    unsigned char em[MAX_LIMBS * 8], mask[MAX_LIMBS * 8];
    unsigned char* seed = em + 1;
    unsigned char* db = em + 1 + HASH_LEN;
    const int db_len = k - 1 - HASH_LEN;
    for (int done = 0, block = 0; done < in_len; done += chunk, ++block) {
        const int m_len = in_len - done < chunk ? in_len - done : chunk;
        em[0] = 0;
        for (int i = 0; i < HASH_LEN / 4; ++i) {
            const uint32_t v = random.next();
            std::memcpy(seed + 4 * i, &v, 4);  // host order
        }
        std::memcpy(db, kEmptyLabelHash, HASH_LEN);
        std::memset(db + HASH_LEN, 0, db_len - HASH_LEN - 1 - m_len);
        db[db_len - m_len - 1] = 0x01;
        std::memcpy(db + db_len - m_len, in + done, m_len);
        mgf1_xor(db, db_len, seed, HASH_LEN, mask);
        mgf1_xor(seed, HASH_LEN, db, db_len, mask);
        if (!power(reinterpret_cast<unsigned char*>(out) + block * k, em, k, e_, e_count_)) {
            out_len = 0;
            return false;
        }
    }
    explicit_bzero(em, sizeof em);
    return true;
}

bool Rsa::unpad_block(const unsigned char* em_in, char* out, int& len) const {
    const int k = modulus_bytes();
    unsigned char em[MAX_LIMBS * 8], mask[MAX_LIMBS * 8];
    std::memcpy(em, em_in, k);
    unsigned char* seed = em + 1;
    unsigned char* db = em + 1 + HASH_LEN;
    const int db_len = k - 1 - HASH_LEN;
    mgf1_xor(seed, HASH_LEN, db, db_len, mask);
    mgf1_xor(db, db_len, seed, HASH_LEN, mask);
    bool ok = em[0] == 0 && std::memcmp(db, kEmptyLabelHash, HASH_LEN) == 0;
    int i = HASH_LEN;
    while (i < db_len && db[i] == 0) ++i;
    ok = ok && i < db_len && db[i] == 0x01;
    if (ok) {
        len = db_len - i - 1;
        if (out != nullptr) std::memcpy(out, db + i + 1, len);
    }
    explicit_bzero(em, sizeof em);
    return ok;
}

bool Rsa::decode_oaep(char* out, int& out_len, const char* in, int in_len) {
    out_len = 0;
    const int k = modulus_bytes();
    if (k - OAEP_OVERHEAD <= 0 || in_len < 0 || in_len % k != 0) return false;
    unsigned char em[MAX_LIMBS * 8];
    for (int done = 0; done < in_len; done += k) {
        int len = 0;
        if (!power(em, reinterpret_cast<const unsigned char*>(in) + done, k, d_, d_count_) ||
            !unpad_block(em, out != nullptr ? out + out_len : nullptr, len)) {
            explicit_bzero(em, sizeof em);
            out_len = 0;
            return false;
        }
        out_len += len;
    }
    explicit_bzero(em, sizeof em);
    return true;
}

}  // namespace Cipher

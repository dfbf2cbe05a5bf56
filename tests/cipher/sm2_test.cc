#include "cipher/sm2.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cipher/ecc.h"
#include "cipher/sm2_field.h"
#include "cipher/sm3.h"
#include "tests/cipher/cipher_oracle.h"

namespace {

using Cipher::Limb;
using CipherTest::Bytes;
using CipherTest::from_hex;
using CipherTest::random_bytes;

// ---- conversions between the C1 C2 C3 layout and the DER form
// SEQUENCE { INTEGER x1, INTEGER y1, OCTET STRING C3, OCTET STRING C2 }.

void der_item(Bytes& out, unsigned char tag, const Bytes& body) {
    const size_t n = body.size();
    out.push_back(tag);
    if (n >= 256) out.insert(out.end(), {0x82, static_cast<unsigned char>(n >> 8)});
    if (n >= 128 && n < 256) out.push_back(0x81);
    out.push_back(static_cast<unsigned char>(n));
    out.insert(out.end(), body.begin(), body.end());
}

Bytes der_integer(const unsigned char* p, int n) {
    while (n > 1 && p[0] == 0) {
        ++p;
        --n;
    }
    Bytes body;
    if (p[0] & 0x80) body.push_back(0);
    body.insert(body.end(), p, p + n);
    return body;
}

Bytes to_der(const Bytes& c1c2c3) {
    const int l = static_cast<int>(c1c2c3.size()) - 97;
    Bytes body;
    der_item(body, 0x02, der_integer(c1c2c3.data() + 1, 32));
    der_item(body, 0x02, der_integer(c1c2c3.data() + 33, 32));
    der_item(body, 0x04, Bytes(c1c2c3.begin() + 65 + l, c1c2c3.end()));
    der_item(body, 0x04, Bytes(c1c2c3.begin() + 65, c1c2c3.begin() + 65 + l));
    Bytes out;
    der_item(out, 0x30, body);
    return out;
}

Bytes read_item(const Bytes& der, size_t& pos, unsigned char tag) {
    EXPECT_EQ(der.at(pos), tag);
    ++pos;
    size_t n = der.at(pos++);
    if (n & 0x80) {
        const int k = n & 0x7f;
        n = 0;
        for (int i = 0; i < k; ++i) n = (n << 8) | der.at(pos++);
    }
    Bytes body(der.begin() + pos, der.begin() + pos + n);
    pos += n;
    return body;
}

Bytes from_der(const Bytes& der) {
    size_t pos = 0;
    const Bytes seq = read_item(der, pos, 0x30);
    pos = 0;
    Bytes x = read_item(seq, pos, 0x02), y = read_item(seq, pos, 0x02);
    const Bytes c3 = read_item(seq, pos, 0x04), c2 = read_item(seq, pos, 0x04);
    auto fixed = [](Bytes v) {
        while (v.size() > 32 && v[0] == 0) v.erase(v.begin());
        v.insert(v.begin(), 32 - v.size(), 0);
        return v;
    };
    Bytes out{0x04};
    for (const Bytes& part : {fixed(x), fixed(y), c2, c3})
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// ---- OpenSSL SM2 keys from our hex text (ours prints upper case).

std::string hex_of(const Bytes& b) {
    std::string s = CipherTest::to_hex(b);
    for (char& c : s) c = static_cast<char>(toupper(c));
    return s;
}

EVP_PKEY* openssl_key(const std::string& d_hex, const std::string& x_hex,
                      const std::string& y_hex) {
    BIGNUM* d = nullptr;
    if (!d_hex.empty()) BN_hex2bn(&d, d_hex.c_str());
    const Bytes pub = from_hex("04" + x_hex + y_hex);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, pub.data(), pub.size());
    if (d) OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, d);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY* key = nullptr;
    EXPECT_EQ(EVP_PKEY_fromdata_init(ctx), 1);
    EXPECT_EQ(EVP_PKEY_fromdata(ctx, &key, d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params), 1);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(d);
    return key;
}

Bytes openssl_crypt(EVP_PKEY* key, bool encrypt, const Bytes& in) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    auto crypt = encrypt ? EVP_PKEY_encrypt : EVP_PKEY_decrypt;
    size_t n = 0;
    EXPECT_EQ(encrypt ? EVP_PKEY_encrypt_init(ctx) : EVP_PKEY_decrypt_init(ctx), 1);
    EXPECT_EQ(crypt(ctx, nullptr, &n, in.data(), in.size()), 1);
    Bytes out(n);
    EXPECT_EQ(crypt(ctx, out.data(), &n, in.data(), in.size()), 1);
    out.resize(n);
    EVP_PKEY_CTX_free(ctx);
    return out;
}

struct KeyText {
    std::string d, x, y;
};

// A key pair from OpenSSL's generator: private scalar and public coordinates
// as 64-digit hex.
KeyText openssl_keygen() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    BIGNUM* d = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d), 1);
    unsigned char pub[65];
    size_t n = 0;
    EXPECT_EQ(EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, pub, sizeof pub, &n),
              1);
    unsigned char db[32];
    BN_bn2binpad(d, db, 32);
    BN_free(d);
    EVP_PKEY_free(key);
    return {hex_of(Bytes(db, db + 32)), hex_of(Bytes(pub + 1, pub + 33)),
            hex_of(Bytes(pub + 33, pub + 65))};
}

Bytes encode(Cipher::Sm2& sm2, const Bytes& msg) {
    int len = 0;
    sm2.encode(nullptr, len, msg.data(), static_cast<int>(msg.size()));
    EXPECT_EQ(len, static_cast<int>(msg.size()) + 97);
    Bytes out(len);
    sm2.encode(out.data(), len, msg.data(), static_cast<int>(msg.size()));
    return out;
}

bool decode(Cipher::Sm2& sm2, const Bytes& c, Bytes& msg) {
    int len = 0;
    if (!sm2.decode(nullptr, len, c.data(), static_cast<int>(c.size()))) return false;
    msg.assign(len, 0);
    return sm2.decode(msg.data(), len, c.data(), static_cast<int>(c.size()));
}

// d G for OpenSSL's own private keys. Our generator's pairs are checked by
// OpenSSL encrypting to the public half and us decrypting with the private.
TEST(Sm2, PublicKeyIsTheOpenSslPointOfThePrivateKey) {
    for (int i = 0; i < 20; ++i) {
        const KeyText key = openssl_keygen();
        Cipher::Sm2 sm2(false);
        ASSERT_TRUE(sm2.set_private_key(key.d.c_str()));
        char x[65], y[65];
        sm2.get_public_key(x, y);
        EXPECT_EQ(key.x, x);
        EXPECT_EQ(key.y, y);
    }
}

// Both directions on keys from both generators: OpenSSL encrypts to the
// public half and we decrypt (the key-exchange direction); we encrypt and
// OpenSSL decrypts with a private key it knows.
TEST(Sm2, CiphertextsCrossWithOpenSslBothWays) {
    std::mt19937 rng(31);
    for (int i = 0; i < 40; ++i) {
        Cipher::Sm2 sm2(false);
        KeyText key;
        const bool theirs = i % 2 == 0;
        if (theirs) {
            key = openssl_keygen();
            ASSERT_TRUE(sm2.set_private_key(key.d.c_str()));
        } else {
            sm2.gen_keys();
            char x[65], y[65];
            sm2.get_public_key(x, y);
            key.x = x;
            key.y = y;
        }
        const Bytes msg = random_bytes(rng, i < 10 ? i + 1 : rng() % 300 + 1);
        EVP_PKEY* pkey = openssl_key(theirs ? key.d : "", key.x, key.y);
        Bytes back;
        ASSERT_TRUE(decode(sm2, from_der(openssl_crypt(pkey, true, msg)), back));
        EXPECT_EQ(back, msg);
        sm2.gen_k();
        const Bytes c = encode(sm2, msg);
        ASSERT_TRUE(decode(sm2, c, back));
        EXPECT_EQ(back, msg);
        if (theirs) {
            EXPECT_EQ(openssl_crypt(pkey, false, to_der(c)), msg);
        }
        EVP_PKEY_free(pkey);
    }
}

TEST(Sm2, DecodeRefusesShortInputWrongFirstByteAndTampering) {
    Cipher::Sm2 sm2(false);
    sm2.gen_keys();
    sm2.gen_k();
    Bytes c = encode(sm2, Bytes{0x42});
    ASSERT_EQ(c.size(), 98u);
    Bytes out;
    EXPECT_TRUE(decode(sm2, c, out));
    EXPECT_EQ(out, Bytes{0x42});
    int len = 0;
    unsigned char buf[8];
    EXPECT_FALSE(sm2.decode(buf, len, c.data(), 97));
    EXPECT_EQ(len, 0);
    EXPECT_FALSE(sm2.decode(nullptr, len, c.data(), 10));
    EXPECT_LT(len, 1);
    Bytes bad = c;
    bad[0] = 0x02;
    EXPECT_FALSE(decode(sm2, bad, out));
    for (size_t at : {size_t(1), size_t(40), size_t(65), size_t(70), c.size() - 1}) {
        bad = c;
        bad[at] ^= 0x01;
        EXPECT_FALSE(decode(sm2, bad, out)) << at;
    }
}

TEST(Sm2, MaskingBindsTheCiphertextToThePublicKey) {
    std::mt19937 rng(33);
    Cipher::Sm2 a(true), b(true), plain(false);
    a.gen_keys();
    b.gen_keys();
    char x[65], y[65];
    a.get_public_key(x, y);
    const Bytes msg = random_bytes(rng, 8);
    a.gen_k();
    const Bytes c = encode(a, msg);
    Bytes out;
    ASSERT_TRUE(decode(a, c, out));
    EXPECT_EQ(out, msg);
    EXPECT_FALSE(decode(b, c, out));
    // The masked bytes are exactly px over the head and py over the tail.
    Bytes unmasked = c;
    const Bytes px = from_hex(x), py = from_hex(y);
    for (int i = 0; i < 32; ++i) {
        unmasked[i] ^= px[31 - i];
        unmasked[unmasked.size() - 32 + i] ^= py[31 - i];
    }
    EXPECT_EQ(unmasked[0], 0x04);
    EXPECT_NE(unmasked, c);
    // An encryptor that only knows the public key (a front) and masks.
    Cipher::Sm2 front(true);
    ASSERT_TRUE(front.set_public_key(x, y));
    front.gen_k();
    ASSERT_TRUE(decode(a, encode(front, msg), out));
    EXPECT_EQ(out, msg);
}

TEST(Sm2, PrivateKeyIsHalvedUntilBelowTheOrder) {
    const char* n = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";
    // d = n halves once to (n - 1) / 2 (n is odd).
    Cipher::Sm2 a(false), b(false);
    ASSERT_TRUE(a.set_private_key(n));
    ASSERT_TRUE(
        b.set_private_key("7FFFFFFF7FFFFFFFFFFFFFFFFFFFFFFFB901EFB590E30295A9DDFA049CEAA091"));
    char ax[65], ay[65], bx[65], by[65];
    a.get_public_key(ax, ay);
    b.get_public_key(bx, by);
    EXPECT_STREQ(ax, bx);
    EXPECT_STREQ(ay, by);
    EXPECT_FALSE(a.set_private_key(
        "00000000000000000000000000000000000000000000000000000000000000000000000000000001"));
}

// A fixed k gives the same ciphertext every time, and its C1 is k G.
TEST(Sm2, FixedScalarGivesC1EqualToKTimesG) {
    Cipher::Sm2 a(false), b(false);
    const char* d = "3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8";
    const char* k = "59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21";
    a.set_private_key(d);
    b.set_private_key(d);
    ASSERT_TRUE(a.set_k(k));
    ASSERT_TRUE(b.set_k(k));
    const Bytes msg{'e', 'n', 'c', 'r', 'y', 'p', 't', 'i', 'o', 'n',
                    ' ', 's', 't', 'a', 'n', 'd', 'a', 'r', 'd'};
    const Bytes c = encode(a, msg);
    EXPECT_EQ(c, encode(b, msg));

    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    BN_CTX* bn = BN_CTX_new();
    BIGNUM* bk = nullptr;
    BN_hex2bn(&bk, k);
    EC_POINT* c1 = EC_POINT_new(group);
    EC_POINT_mul(group, c1, bk, nullptr, nullptr, bn);
    unsigned char point[65];
    ASSERT_EQ(EC_POINT_point2oct(group, c1, POINT_CONVERSION_UNCOMPRESSED, point, sizeof point, bn),
              65u);
    EXPECT_EQ(Bytes(c.begin(), c.begin() + 65), Bytes(point, point + 65));
    EC_POINT_free(c1);
    BN_free(bk);
    BN_CTX_free(bn);
    EC_GROUP_free(group);
}

std::string bn_hex64(const BIGNUM* v) {
    unsigned char b[32];
    BN_bn2binpad(v, b, 32);
    return hex_of(Bytes(b, b + 32));
}

// A caller's curve (here P-256, parameters read from OpenSSL) goes through
// the generic arithmetic.
TEST(Sm2, CallerCurveMatchesOpenSslPointsAndRoundTrips) {
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1);
    BN_CTX* bn = BN_CTX_new();
    BIGNUM *p = BN_new(), *a = BN_new(), *b = BN_new(), *gx = BN_new(), *gy = BN_new();
    EC_GROUP_get_curve(group, p, a, b, bn);
    EC_POINT_get_affine_coordinates(group, EC_GROUP_get0_generator(group), gx, gy, bn);
    const std::string ps = bn_hex64(p), as = bn_hex64(a), bs = bn_hex64(b),
                      ns = bn_hex64(EC_GROUP_get0_order(group)), gxs = bn_hex64(gx),
                      gys = bn_hex64(gy);
    std::mt19937 rng(36);
    for (int i = 0; i < 4; ++i) {
        Cipher::Sm2 sm2(ps.c_str(), as.c_str(), bs.c_str(), ns.c_str(), gxs.c_str(), gys.c_str(),
                        i % 2 == 1);
        const std::string d = hex_of(random_bytes(rng, 32));
        sm2.set_private_key(d.c_str());
        char x[65], y[65];
        sm2.get_public_key(x, y);
        BIGNUM* bd = nullptr;
        BN_hex2bn(&bd, d.c_str());
        while (BN_cmp(bd, EC_GROUP_get0_order(group)) >= 0) BN_rshift1(bd, bd);
        EC_POINT* q = EC_POINT_new(group);
        EC_POINT_mul(group, q, bd, nullptr, nullptr, bn);
        BIGNUM *qx = BN_new(), *qy = BN_new();
        EC_POINT_get_affine_coordinates(group, q, qx, qy, bn);
        EXPECT_EQ(bn_hex64(qx), x);
        EXPECT_EQ(bn_hex64(qy), y);
        sm2.gen_k();
        const Bytes msg = random_bytes(rng, 20);
        Bytes back;
        ASSERT_TRUE(decode(sm2, encode(sm2, msg), back));
        EXPECT_EQ(back, msg);
        BN_free(qx);
        BN_free(qy);
        EC_POINT_free(q);
        BN_free(bd);
    }
    for (BIGNUM* v : {p, a, b, gx, gy}) BN_free(v);
    BN_CTX_free(bn);
    EC_GROUP_free(group);
}

// The SM2 curve parameters as limbs, for the arithmetic below the Sm2 class.
class Ecc : public ::testing::Test {
  protected:
    void SetUp() override {
        int s;
        Cipher::mpi_from_hex(p, pn, s,
                             "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF");
        Cipher::mpi_from_hex(a, an, s,
                             "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC");
        Cipher::mpi_from_hex(b, bn, s,
                             "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93");
        Cipher::mpi_from_hex(n, nn, s,
                             "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123");
        Cipher::mpi_from_hex(gx, gxn, s,
                             "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7");
        Cipher::mpi_from_hex(gy, gyn, s,
                             "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0");
    }
    Limb p[4], a[4], b[4], n[4], gx[4], gy[4];
    int pn, an, bn, nn, gxn, gyn;
};

TEST_F(Ecc, FastAndGenericScalarMultiplicationAgree) {
    std::mt19937_64 rng(34);
    EXPECT_TRUE(Cipher::ecc_point_check(gx, gxn, gy, gyn, a, an, b, bn, p, pn));
    for (int i = 0; i < 12; ++i) {
        Limb k[4];
        for (auto& l : k) l = rng();
        const int kn = i < 4 ? 1 : 4;
        if (i == 0) k[0] = 2;
        if (i == 1) k[0] = 3;
        Limb jx[4], jy[4], ax[4], ay[4];
        int jxn, jyn, axn, ayn;
        Cipher::ecc_point_mul_jacobian(jx, jxn, jy, jyn, gx, gxn, gy, gyn, k, kn, a, an, p, pn);
        Cipher::ecc_point_mul(ax, axn, ay, ayn, gx, gxn, gy, gyn, k, kn, a, an, p, pn);
        ASSERT_TRUE(Cipher::ecc_point_equal(jx, jxn, jy, jyn, ax, axn, ay, ayn));
        ASSERT_TRUE(Cipher::ecc_point_check(jx, jxn, jy, jyn, a, an, b, bn, p, pn));
        // Sm2's fast path through its public key for d = k (k < n here).
        char text[65], x[65], y[65];
        Cipher::mpi_to_hex(k, 4, 0, text, true, false);
        if (kn == 1) std::memset(text, '0', 48);
        Cipher::Sm2 sm2(false);
        sm2.set_private_key(text);
        sm2.get_public_key(x, y);
        char ex[65], ey[65];
        Cipher::mpi_to_hex(jx, jxn, 0, ex, true, false);
        Cipher::mpi_to_hex(jy, jyn, 0, ey, true, false);
        EXPECT_STREQ(x, ex);
        EXPECT_STREQ(y, ey);
        // The y of x is this point or its negative.
        Limb yy[4];
        int yyn;
        ASSERT_TRUE(Cipher::ecc_point_y(yy, yyn, jx, jxn, a, an, b, bn, p, pn));
        EXPECT_TRUE(Cipher::ecc_point_equal(jx, jxn, yy, yyn, jx, jxn, jy, jyn) ||
                    Cipher::ecc_point_is_negative(jx, jxn, jy, jyn, jx, jxn, yy, yyn, p, pn));
    }
}

// The four-limb path against the generic one on arbitrary points and
// scalars, including scalars above the group order and 0, 1, 2.
TEST_F(Ecc, FastVariableBaseMatchesGenericOnRandomPoints) {
    std::mt19937_64 rng(37);
    ASSERT_TRUE(Cipher::Sm2Field::matches(p, pn, a, an));
    Limb px[4], py[4];
    int pxn, pyn;
    for (int i = 0; i < 16; ++i) {
        Limb r[4] = {rng(), rng(), rng(), rng() >> 1};
        Cipher::Sm2Field::mul_base(px, pxn, py, pyn, r, 4);
        Limb k[4] = {rng(), rng(), rng(), rng()};  // often above n
        int kn = 4;
        if (i < 3) {
            k[0] = static_cast<Limb>(i);
            kn = 1;
        }
        Limb fx[4], fy[4], jx[4], jy[4];
        int fxn = -1, fyn = -1, jxn = -1, jyn = -1;
        Cipher::Sm2Field::mul(fx, fxn, fy, fyn, px, pxn, py, pyn, k, kn);
        Cipher::ecc_point_mul_jacobian(jx, jxn, jy, jyn, px, pxn, py, pyn, k, kn, a, an, p, pn);
        ASSERT_EQ(Cipher::mpi_cmp(fx, fxn, jx, jxn), 0) << i;
        ASSERT_EQ(Cipher::mpi_cmp(fy, fyn, jy, jyn), 0) << i;
        Cipher::Sm2Field::mul_base(fx, fxn, fy, fyn, k, kn);
        Cipher::ecc_point_mul_jacobian(jx, jxn, jy, jyn, gx, gxn, gy, gyn, k, kn, a, an, p, pn);
        ASSERT_EQ(Cipher::mpi_cmp(fx, fxn, jx, jxn), 0) << i;
        ASSERT_EQ(Cipher::mpi_cmp(fy, fyn, jy, jyn), 0) << i;
    }
}

// n G is the point at infinity (the last addition meets the negative of the
// accumulator) and (n - 1) G is -G, on both paths.
TEST_F(Ecc, ScalarsAtTheGroupOrder) {
    Limb rx[4], ry[4];
    int rxn = -1, ryn = -1;
    Cipher::Sm2Field::mul(rx, rxn, ry, ryn, gx, gxn, gy, gyn, n, nn);
    EXPECT_TRUE(Cipher::ecc_point_is_infinite(rx, rxn, ry, ryn));
    Cipher::Sm2Field::mul_base(rx, rxn, ry, ryn, n, nn);
    EXPECT_TRUE(Cipher::ecc_point_is_infinite(rx, rxn, ry, ryn));
    Cipher::ecc_point_mul_jacobian(rx, rxn, ry, ryn, gx, gxn, gy, gyn, n, nn, a, an, p, pn);
    EXPECT_TRUE(Cipher::ecc_point_is_infinite(rx, rxn, ry, ryn));
    n[0] -= 1;
    Cipher::Sm2Field::mul(rx, rxn, ry, ryn, gx, gxn, gy, gyn, n, nn);
    EXPECT_TRUE(Cipher::ecc_point_is_negative(gx, gxn, gy, gyn, rx, rxn, ry, ryn, p, pn));
    Cipher::ecc_point_mul_jacobian(rx, rxn, ry, ryn, gx, gxn, gy, gyn, n, nn, a, an, p, pn);
    EXPECT_TRUE(Cipher::ecc_point_is_negative(gx, gxn, gy, gyn, rx, rxn, ry, ryn, p, pn));
}

TEST_F(Ecc, SpecialCasesOfAdditionAndMultiplication) {
    Limb ny[4];
    int nyn = gyn;
    std::memcpy(ny, gy, sizeof ny);
    Cipher::ecc_point_set_negative(ny, nyn, p, pn);
    EXPECT_TRUE(Cipher::ecc_point_is_negative(gx, gxn, gy, gyn, gx, gxn, ny, nyn, p, pn));
    Limb rx[4], ry[4];
    int rxn = 9, ryn = 9;
    Cipher::ecc_point_add(rx, rxn, ry, ryn, gx, gxn, gy, gyn, gx, gxn, ny, nyn, a, an, p, pn);
    EXPECT_TRUE(Cipher::ecc_point_is_infinite(rx, rxn, ry, ryn));
    // Jacobian G + (-G) is infinity (Z without limbs); G + G equals 2G.
    Limb x[4], y[4], z[4] = {1, 0, 0, 0}, one[1] = {1};
    int xn = gxn, yn = gyn, zn = 1;
    std::memcpy(x, gx, sizeof x);
    std::memcpy(y, gy, sizeof y);
    Cipher::ecc_point_add_jacobian(x, xn, y, yn, z, zn, gx, gxn, ny, nyn, one, 1, a, an, p, pn);
    EXPECT_TRUE(Cipher::ecc_coordinate_is_infinite(z, zn));
    const Limb zero = 0, two = 2;
    Cipher::ecc_point_mul_jacobian(rx, rxn, ry, ryn, gx, gxn, gy, gyn, &zero, 0, a, an, p, pn);
    EXPECT_TRUE(Cipher::ecc_point_is_infinite(rx, rxn, ry, ryn));
    std::memcpy(x, gx, sizeof x);
    std::memcpy(y, gy, sizeof y);
    xn = gxn, yn = gyn, z[0] = 1, zn = 1;
    Cipher::ecc_point_add_jacobian(x, xn, y, yn, z, zn, gx, gxn, gy, gyn, one, 1, a, an, p, pn);
    Limb dx[4], dy[4], dz[4] = {1, 0, 0, 0};
    int dxn = gxn, dyn = gyn, dzn = 1;
    std::memcpy(dx, gx, sizeof dx);
    std::memcpy(dy, gy, sizeof dy);
    Cipher::ecc_point_double_jacobian(dx, dxn, dy, dyn, dz, dzn, a, an, p, pn);
    Cipher::ecc_point_mul_jacobian(rx, rxn, ry, ryn, gx, gxn, gy, gyn, &two, 1, a, an, p, pn);
    // G + G by the addition formula takes the doubling path.
    EXPECT_EQ(Cipher::mpi_cmp(x, xn, dx, dxn), 0);
    EXPECT_EQ(Cipher::mpi_cmp(y, yn, dy, dyn), 0);
    EXPECT_EQ(Cipher::mpi_cmp(z, zn, dz, dzn), 0);
}

TEST_F(Ecc, KdfIsTheX963ConstructionWithSm3) {
    std::mt19937 rng(35);
    for (int out_len : {1, 31, 32, 33, 64, 100, 1000}) {
        const Bytes z = random_bytes(rng, 64);
        std::vector<char> ours(out_len), scratch(z.size() + 4);
        Cipher::kdf(ours.data(), out_len, reinterpret_cast<const char*>(z.data()),
                    static_cast<int>(z.size()), scratch.data());
        EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "X963KDF", nullptr);
        ASSERT_NE(kdf, nullptr);
        EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
        OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>("SM3"), 0),
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY,
                                              const_cast<unsigned char*>(z.data()), z.size()),
            OSSL_PARAM_construct_end()};
        Bytes theirs(out_len);
        ASSERT_EQ(EVP_KDF_derive(ctx, theirs.data(), theirs.size(), params), 1);
        EVP_KDF_CTX_free(ctx);
        EVP_KDF_free(kdf);
        EXPECT_EQ(Bytes(ours.begin(), ours.end()), theirs) << out_len;
    }
}

}  // namespace

// The block ciphers (AES, DES and triple DES, SM4) and the modes they share.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>
#include <memory>
#include <string>

#include "base/byte_order.h"
#include "cipher/aes.h"
#include "cipher/block_mode.h"
#include "cipher/des.h"
#include "cipher/sm4.h"
#include "cipher/triple_des.h"
#include "tests/cipher/cipher_oracle.h"
#include "tests/test_table.h"

using CipherTest::Bytes;
using CipherTest::from_hex;
using CipherTest::to_hex;

namespace {

// One-shot libcrypto cipher run; pad toggles PKCS#7 padding.
Bytes openssl_crypt(const EVP_CIPHER* cipher, bool encrypt, const Bytes& key,
                    const unsigned char* iv, const Bytes& in, bool pad) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 64);
    int n1 = 0, n2 = 0;
    bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv, encrypt ? 1 : 0) == 1;
    EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
    ok = ok && EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())) == 1;
    ok = ok && EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return Bytes{0xde, 0xad};
    out.resize(n1 + n2);
    return out;
}

enum class Mode { ECB, CBC, CTR };

Mode mode_of(const std::string& name) {
    return name == "ecb" ? Mode::ECB : name == "cbc" ? Mode::CBC : Mode::CTR;
}

// One call of ours in a mode and direction; a null out asks for the size.
template <class C>
bool call(C& c, Mode m, bool encode, unsigned char* out, int& len, const unsigned char* in, int n,
          bool pad, const unsigned char* iv, int b) {
    if (m == Mode::ECB)
        return encode ? c.encode_ecb(out, len, in, n, pad) : c.decode_ecb(out, len, in, n, pad);
    if (m == Mode::CBC)
        return encode ? c.encode_cbc(out, len, in, n, pad, iv, b)
                      : c.decode_cbc(out, len, in, n, pad, iv, b);
    return encode ? c.encode_ctr(out, len, in, n, iv, b) : c.decode_ctr(out, len, in, n, iv, b);
}

// Ours in one mode and direction, with an IV as long as a block: a size
// query first, then the call into exactly that room; decoding runs in place.
template <class C>
Bytes run_mode(C& c, Mode m, bool encode, const Bytes& iv, const Bytes& in, bool pad) {
    const int n = static_cast<int>(in.size()), b = static_cast<int>(iv.size());
    Bytes buf = in;
    const unsigned char* src = encode ? in.data() : buf.data();
    int len = -1;
    EXPECT_TRUE(call(c, m, encode, nullptr, len, src, n, pad, iv.data(), b));
    Bytes out(len > 0 ? len : 0);
    EXPECT_TRUE(
        call(c, m, encode, encode ? out.data() : buf.data(), len, src, n, pad, iv.data(), b));
    if (!encode) out.assign(buf.begin(), buf.begin() + len);
    return out;
}

// libcrypto's ECB over the counter blocks IV, IV + 1, ... (big-endian,
// wrapping at the block width), as CTR for ciphers it has no CTR mode for.
Bytes ctr_from_ecb(const EVP_CIPHER* ecb, const Bytes& key, Bytes counter, const Bytes& in) {
    Bytes blocks;
    for (size_t i = 0; i < in.size(); i += counter.size()) {
        blocks.insert(blocks.end(), counter.begin(), counter.end());
        for (int j = static_cast<int>(counter.size()) - 1; j >= 0 && ++counter[j] == 0; --j) {
        }
    }
    Bytes stream = openssl_crypt(ecb, true, key, nullptr, blocks, false);
    for (size_t i = 0; i < in.size(); ++i) stream[i] ^= in[i];
    stream.resize(in.size());
    return stream;
}

// c in every mode (padded and, for whole blocks, not) against libcrypto, and
// back again. A null ctr means CTR is checked against ctr_from_ecb.
template <class C>
void expect_modes_match(C& c, const EVP_CIPHER* ecb, const EVP_CIPHER* cbc, const EVP_CIPHER* ctr,
                        const Bytes& key, const Bytes& iv, const Bytes& in) {
    for (Mode m : {Mode::ECB, Mode::CBC, Mode::CTR}) {
        for (bool pad : {false, true}) {
            if (m == Mode::CTR ? pad : !pad && in.size() % iv.size() != 0) continue;
            SCOPED_TRACE("mode " + std::to_string(int(m)) + " pad " + std::to_string(pad) +
                         " length " + std::to_string(in.size()) + " iv " + to_hex(iv));
            const Bytes expect = m == Mode::CTR
                                     ? (ctr ? openssl_crypt(ctr, true, key, iv.data(), in, false)
                                            : ctr_from_ecb(ecb, key, iv, in))
                                     : openssl_crypt(m == Mode::ECB ? ecb : cbc, true, key,
                                                     m == Mode::ECB ? nullptr : iv.data(), in, pad);
            const Bytes got = run_mode(c, m, true, iv, in, pad);
            ASSERT_EQ(got, expect);
            ASSERT_EQ(run_mode(c, m, false, iv, got, pad), in);
        }
    }
}

const char* kTable = "cipher/block_cipher.data";

class AesPath : public CipherTest::PathTest<Cipher::Aes> {};

// The published examples, through the modes both ways, and single blocks
// through the free-function forms that serve callers taking a block function.
TEST_P(AesPath, PublishedExamples) {
    for (const TestTable::Row& v : TestTable::read(kTable, "aes")) {
        SCOPED_TRACE(TestTable::where(kTable, v));
        const Bytes key = from_hex(v[2]), iv = from_hex(v[3]), plain = from_hex(v[4]);
        Cipher::Aes aes(key.data(), static_cast<int>(key.size()));
        select(aes);
        EXPECT_EQ(aes.rounds(), static_cast<int>(key.size()) / 4 + 6);
        const Bytes out = run_mode(aes, mode_of(v[1]), true, iv, plain, false);
        EXPECT_EQ(to_hex(out), v[5]);
        EXPECT_EQ(run_mode(aes, mode_of(v[1]), false, iv, out, false), plain);
        if (v[1] != "ecb") continue;
        unsigned char block[16], back[16];
        Cipher::Aes::encode_func(&aes, block, plain.data());
        EXPECT_EQ(to_hex(block, 16), v[5]);
        Cipher::Aes::decode_func(&aes, back, block);
        EXPECT_EQ(Bytes(back, back + 16), plain);
    }
}

// libcrypto's cipher for a key size and mode.
const EVP_CIPHER* evp(int key_bytes, const char* mode) {
    return EVP_get_cipherbyname(("AES-" + std::to_string(key_bytes * 8) + mode).c_str());
}

// Random keys, IVs and data of every length up to a few blocks past the
// eight-block batches, in every mode, against libcrypto. The last lengths
// take IVs whose counter carries from the low into the high 64 bits, wraps
// at 128 bits, or carries across bytes.
TEST_P(AesPath, MatchesOpenSslInEveryModeAndLength) {
    const char* edges[] = {"00000000000000fffffffffffffffffd", "fffffffffffffffffffffffffffffffe",
                           "000000000000000000000000fffffff8"};
    std::mt19937 rng(1234);
    for (int key_bytes : {16, 24, 32}) {
        for (int len = 0; len <= 16 * 11 + 1; ++len) {
            const Bytes key = CipherTest::random_bytes(rng, key_bytes);
            const Bytes iv =
                len >= 150 ? from_hex(edges[len % 3]) : CipherTest::random_bytes(rng, 16);
            const Bytes in = CipherTest::random_bytes(rng, len);
            Cipher::Aes aes(key.data(), key_bytes);
            select(aes);
            expect_modes_match(aes, evp(key_bytes, "-ECB"), evp(key_bytes, "-CBC"),
                               evp(key_bytes, "-CTR"), key, iv, in);
            // A null IV means zeros, in the instructions' own CTR too.
            Bytes out(len + 1);
            int n = 0;
            ASSERT_TRUE(aes.encode_ctr(out.data(), n, in.data(), len, nullptr, 16));
            out.resize(n);
            EXPECT_EQ(out, openssl_crypt(evp(key_bytes, "-CTR"), true, key, Bytes(16, 0).data(), in,
                                         false));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, AesPath, ::testing::Bool(), CipherTest::path_name);

TEST(Aes, OtherKeySizesLeaveNoSchedule) {
    const Bytes key(20, 1);
    Cipher::Aes aes(key.data(), 20);
    EXPECT_EQ(aes.rounds(), 0);
    EXPECT_FALSE(aes.use_hardware(true));
}

// Single DES lives in libcrypto's legacy provider; loading it means loading
// the default one by name as well. Both stay until every suite of the
// process has run (the other ciphers' checks share them) and are unloaded
// then, so the leak checker sees nothing left behind.
class Providers : public ::testing::Environment {
  public:
    static bool load() {
        if (legacy_ == nullptr) legacy_ = OSSL_PROVIDER_load(nullptr, "legacy");
        if (default_ == nullptr) default_ = OSSL_PROVIDER_load(nullptr, "default");
        return legacy_ != nullptr && default_ != nullptr;
    }
    void TearDown() override {
        if (legacy_ != nullptr) OSSL_PROVIDER_unload(legacy_);
        if (default_ != nullptr) OSSL_PROVIDER_unload(default_);
        legacy_ = default_ = nullptr;
    }

  private:
    static inline OSSL_PROVIDER* legacy_ = nullptr;
    static inline OSSL_PROVIDER* default_ = nullptr;
};
::testing::Environment* const providers = ::testing::AddGlobalTestEnvironment(new Providers);

class DesOracle : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(Providers::load()); }
};

// A 24-byte key makes a TripleDes of its three parts, used through its Des
// base so that every operation goes through the virtual process().
std::unique_ptr<Cipher::Des> make(const Bytes& key) {
    if (key.size() == 24)
        return std::unique_ptr<Cipher::Des>(
            new Cipher::TripleDes(key.data(), key.data() + 8, key.data() + 16));
    return std::unique_ptr<Cipher::Des>(new Cipher::Des(key.data()));
}

// Through the modes, process() (first byte most significant) and the
// free-function forms that serve callers taking a block function.
TEST_F(DesOracle, PublishedVectors) {
    for (const TestTable::Row& v : TestTable::read(kTable, "des")) {
        SCOPED_TRACE(TestTable::where(kTable, v));
        const Bytes key = from_hex(v[1]), iv = from_hex(v[2]), plain = from_hex(v[3]);
        const Bytes cipher = from_hex(v[4]);
        std::unique_ptr<Cipher::Des> des = make(key);
        const Mode m = iv.empty() ? Mode::ECB : Mode::CBC;
        EXPECT_EQ(to_hex(run_mode(*des, m, true, iv, plain, false)), v[4]);
        EXPECT_EQ(run_mode(*des, m, false, iv, cipher, false), plain);
        if (m == Mode::CBC) continue;
        EXPECT_EQ(des->process(Base::load_be64(plain.data()), 'e'), Base::load_be64(cipher.data()));
        EXPECT_EQ(des->process(Base::load_be64(cipher.data()), 'd'), Base::load_be64(plain.data()));
        unsigned char out[8], back[8];
        Cipher::Des::encode_func(des.get(), out, plain.data());
        EXPECT_EQ(to_hex(out, 8), v[4].substr(0, 16));
        Cipher::Des::decode_func(des.get(), back, out);
        EXPECT_EQ(Bytes(back, back + 8), Bytes(plain.begin(), plain.begin() + 8));
    }
    // Modes other than 'e' and 'd' give nothing.
    Cipher::Des des(from_hex("133457799bbcdff1").data());
    EXPECT_EQ(des.process(0x0123456789abcdefUL, 'x'), 0UL);
    EXPECT_EQ(des.process(0x0123456789abcdefUL, 'E'), 0UL);
}

// Random keys, IVs and data of every length up to six blocks, in every mode;
// the last lengths take IVs whose counter carries across every byte or wraps.
TEST_F(DesOracle, DesAndTripleDesMatchOpenSslInEveryModeAndLength) {
    std::mt19937 rng(99);
    for (int k = 0; k < 8; ++k) {
        const bool triple = k % 2 == 1;
        const Bytes key = CipherTest::random_bytes(rng, triple ? 24 : 8);
        std::unique_ptr<Cipher::Des> des = make(key);
        for (int len = 0; len <= 8 * 6 + 1; ++len) {
            const Bytes iv = len < 40    ? CipherTest::random_bytes(rng, 8)
                             : k % 4 < 2 ? from_hex("fefffffffffffffe")
                                         : from_hex("fffffffffffffffe");
            expect_modes_match(*des, triple ? EVP_des_ede3_ecb() : EVP_des_ecb(),
                               triple ? EVP_des_ede3_cbc() : EVP_des_cbc(), nullptr, key, iv,
                               CipherTest::random_bytes(rng, len));
        }
    }
}

class Sm4Path : public CipherTest::PathTest<Cipher::Sm4> {};

// The published examples, each block encrypted the given number of times
// (through the free-function form) and decrypted back; every batch size of the block loops is left
// to the libcrypto check below.
TEST_P(Sm4Path, PublishedExamples) {
    for (const TestTable::Row& v : TestTable::read(kTable, "sm4")) {
        SCOPED_TRACE(TestTable::where(kTable, v));
        const Bytes key = from_hex(v[2]), plain = from_hex(v[3]);
        Cipher::Sm4 sm4(key.data());
        select(sm4);
        Bytes block = plain;
        for (int i = std::stoi(v[1]); i > 0; --i)
            Cipher::Sm4::encode_func(&sm4, block.data(), block.data());
        EXPECT_EQ(to_hex(block), v[4]);
        for (int i = std::stoi(v[1]); i > 0; --i) sm4.decode(block.data(), block.data());
        EXPECT_EQ(block, plain);
    }
}

// Random keys, IVs and lengths up to 4 KiB; every tenth IV makes the
// counter carry into the high half.
TEST_P(Sm4Path, ModesMatchOpenSslOnRandomKeysIvsAndLengths) {
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        const Bytes key = CipherTest::random_bytes(rng, 16);
        Bytes iv = CipherTest::random_bytes(rng, 16);
        if (round % 10 == 0) std::memset(iv.data() + 8, 0xff, 8);
        Cipher::Sm4 sm4(key.data());
        select(sm4);
        int len = static_cast<int>(rng() % 4097);
        if (round % 2 == 0) len -= len % 16;
        expect_modes_match(sm4, EVP_sm4_ecb(), EVP_sm4_cbc(), EVP_sm4_ctr(), key, iv,
                           CipherTest::random_bytes(rng, len));
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Sm4Path, ::testing::Bool(), CipherTest::path_name);

const unsigned char KEY[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

TEST(BlockMode, UnpaddingTrustsTheLastByte) {
    Cipher::Sm4 sm4(KEY);
    unsigned char plain[16] = {0}, enc[16], back[16];
    int len = 0;
    // 3 drops three bytes; 200, more than the output, leaves nothing, never
    // a negative length.
    for (int last : {3, 200}) {
        plain[15] = static_cast<unsigned char>(last);
        ASSERT_TRUE(sm4.encode_ecb(enc, len, plain, 16, false));
        ASSERT_TRUE(sm4.decode_ecb(back, len, enc, 16, true));
        EXPECT_EQ(len, last == 3 ? 13 : 0);
    }
}

// Lengths that must be whole blocks and IVs other than a block long give
// false with length 0; one accepted call beside them.
TEST(BlockMode, RefusesBadLengthsAndIvsWithZeroLength) {
    Cipher::Sm4 sm4(KEY);
    Cipher::Des des(KEY);
    unsigned char buf[64] = {0};
    const unsigned char iv[16] = {0};
    for (const TestTable::Row& r : TestTable::read(kTable, "call")) {
        const Mode m = mode_of(r[2]);
        const bool encode = r[3] == "encode", pad = r[5] == "pad";
        const int n = std::stoi(r[4]), b = std::stoi(r[6]);
        int len = 99;
        const bool ok = r[1] == "sm4" ? call(sm4, m, encode, buf, len, buf, n, pad, iv, b)
                                      : call(des, m, encode, buf, len, buf, n, pad, iv, b);
        EXPECT_EQ((ok ? "" : "refused ") + std::to_string(len), r[7])
            << TestTable::where(kTable, r);
    }
}

}  // namespace

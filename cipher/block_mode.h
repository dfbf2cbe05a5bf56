#ifndef XELMD_CIPHER_BLOCK_MODE_H
#define XELMD_CIPHER_BLOCK_MODE_H

#include <cstdint>
#include <cstring>

#include "base/byte_order.h"

namespace Cipher {

// ECB, CBC and CTR over any block cipher C of block size B bytes.
// C provides encode(out, in) and decode(out, in) for one block; it may also
// provide encode_blocks(out, in, n) to encipher n consecutive blocks at once
// (used for CTR keystream and ECB), and decode_blocks(out, in, n) likewise.
//
// Rules shared by every cipher:
// - padding (ECB/CBC with pad): PKCS#7, always (in_len / B + 1) * B bytes out;
//   decoding with pad drops as many bytes as the last output byte says,
//   without checking them;
// - lengths that must be whole blocks and IV lengths other than B give false
//   with out_len 0;
// - a null out only computes out_len; a null iv means all zeros;
// - CTR restarts from the IV on every call: block i uses IV + i (big-endian,
//   modulo 2^(8B)).
// Thread contract: stateless; the cipher object must not be shared by
// concurrent callers unless its encode/decode are const-safe.
template <class C, int B>
class BlockMode {
  public:
    static_assert(B == 8 || B == 16, "block size");

    static bool encode_ecb(C& c, unsigned char* out, int& out_len, const unsigned char* in,
                           int in_len, bool pad) {
        if (!length_ok(in_len, pad)) return fail(out_len);
        out_len = padded_length(in_len, pad);
        if (out == nullptr) return true;
        const int whole = in_len / B;
        encode_many(c, out, in, whole, 0);
        if (pad) {
            unsigned char last[B];
            fill_pad(last, in + whole * B, in_len - whole * B);
            c.encode(out + whole * B, last);
        }
        return true;
    }

    static bool decode_ecb(C& c, unsigned char* out, int& out_len, const unsigned char* in,
                           int in_len, bool pad) {
        if (in_len < 0 || in_len % B != 0) return fail(out_len);
        out_len = in_len;
        if (out == nullptr) return true;
        decode_many(c, out, in, in_len / B, 0);
        unpad(out, out_len, pad);
        return true;
    }

    static bool encode_cbc(C& c, unsigned char* out, int& out_len, const unsigned char* in,
                           int in_len, bool pad, const unsigned char* iv, int iv_len) {
        if (iv_len != B || !length_ok(in_len, pad)) return fail(out_len);
        out_len = padded_length(in_len, pad);
        if (out == nullptr) return true;
        unsigned char chain[B];
        load_iv(chain, iv);
        const int whole = in_len / B;
        for (int i = 0; i < whole; ++i) {
            xor_block(chain, in + i * B);
            c.encode(out + i * B, chain);
            std::memcpy(chain, out + i * B, B);
        }
        if (pad) {
            unsigned char last[B];
            fill_pad(last, in + whole * B, in_len - whole * B);
            xor_block(chain, last);
            c.encode(out + whole * B, chain);
        }
        return true;
    }

    static bool decode_cbc(C& c, unsigned char* out, int& out_len, const unsigned char* in,
                           int in_len, bool pad, const unsigned char* iv, int iv_len) {
        if (iv_len != B || in_len < 0 || in_len % B != 0) return fail(out_len);
        out_len = in_len;
        if (out == nullptr) return true;
        unsigned char chain[B];
        unsigned char next[B];
        load_iv(chain, iv);
        for (int i = 0; i < in_len / B; ++i) {
            // Keep the ciphertext block first: out may alias in.
            std::memcpy(next, in + i * B, B);
            c.decode(out + i * B, next);
            xor_into(out + i * B, chain);
            std::memcpy(chain, next, B);
        }
        unpad(out, out_len, pad);
        return true;
    }

    static bool encode_ctr(C& c, unsigned char* out, int& out_len, const unsigned char* in,
                           int in_len, const unsigned char* iv, int iv_len) {
        if (iv_len != B || in_len < 0) return fail(out_len);
        out_len = in_len;
        if (out == nullptr) return true;
        constexpr int CHUNK = 32;  // blocks of keystream made per cipher call
        unsigned char counter[B];
        unsigned char stream[CHUNK * B];
        load_iv(counter, iv);
        int done = 0;
        while (done < in_len) {
            const int bytes = in_len - done < CHUNK * B ? in_len - done : CHUNK * B;
            const int blocks = (bytes + B - 1) / B;
            fill_counters(stream, counter, blocks);
            encode_many(c, stream, stream, blocks, 0);
            xor_stream(out + done, in + done, stream, bytes);
            done += bytes;
        }
        return true;
    }

    static bool decode_ctr(C& c, unsigned char* out, int& out_len, const unsigned char* in,
                           int in_len, const unsigned char* iv, int iv_len) {
        return encode_ctr(c, out, out_len, in, in_len, iv, iv_len);
    }

  private:
    static bool fail(int& out_len) {
        out_len = 0;
        return false;
    }
    static bool length_ok(int in_len, bool pad) { return in_len >= 0 && (pad || in_len % B == 0); }
    static int padded_length(int in_len, bool pad) { return pad ? (in_len / B + 1) * B : in_len; }

    static void fill_pad(unsigned char* block, const unsigned char* tail, int rest) {
        if (rest > 0) std::memcpy(block, tail, rest);
        std::memset(block + rest, B - rest, B - rest);
    }
    // The pad bytes are not checked; a last byte larger than the output
    // (only from a wrong key or corrupt data) leaves an empty result rather
    // than a negative length.
    static void unpad(const unsigned char* out, int& out_len, bool pad) {
        if (!pad || out_len <= 0) return;
        out_len -= out[out_len - 1];
        if (out_len < 0) out_len = 0;
    }
    static void load_iv(unsigned char* block, const unsigned char* iv) {
        if (iv == nullptr)
            std::memset(block, 0, B);
        else
            std::memcpy(block, iv, B);
    }
    static void xor_block(unsigned char* acc, const unsigned char* in) {
        for (int i = 0; i < B; ++i) acc[i] ^= in[i];
    }
    static void xor_into(unsigned char* acc, const unsigned char* in) { xor_block(acc, in); }
    // out = in ^ stream, eight bytes at a time (a byte loop left the CTR
    // frames of a channel at about a byte per cycle); out may equal in.
    static void xor_stream(unsigned char* out, const unsigned char* in, const unsigned char* stream,
                           int n) {
        int i = 0;
        for (; i + 8 <= n; i += 8) {
            unsigned long a, k;
            std::memcpy(&a, in + i, 8);
            std::memcpy(&k, stream + i, 8);
            a ^= k;
            std::memcpy(out + i, &a, 8);
        }
        for (; i < n; ++i) out[i] = in[i] ^ stream[i];
    }
    // Blocks counter, counter + 1, ... into stream, and counter advanced past
    // them (modulo 2^(8B)). The counter stays in registers as big-endian
    // words: a byte-wise increment in memory followed by a whole-block load
    // stalled store forwarding on every block.
    static void fill_counters(unsigned char* stream, unsigned char* counter, int blocks) {
        static_assert(B == 8 || B == 16, "counter of one or two 64-bit words");
        uint64_t lo = Base::load_be64(counter + B - 8);
        uint64_t hi = B == 16 ? Base::load_be64(counter) : 0;
        for (int i = 0; i < blocks; ++i) {
            if (B == 16) Base::store_be64(stream + i * B, hi);
            Base::store_be64(stream + i * B + B - 8, lo);
            if (++lo == 0) ++hi;
        }
        if (B == 16) Base::store_be64(counter, hi);
        Base::store_be64(counter + B - 8, lo);
    }

    // Multi-block forms when the cipher has them, one block at a time otherwise.
    template <class T>
    static auto encode_many(T& c, unsigned char* out, const unsigned char* in, int n, int)
        -> decltype(c.encode_blocks(out, in, n), void()) {
        c.encode_blocks(out, in, n);
    }
    template <class T>
    static void encode_many(T& c, unsigned char* out, const unsigned char* in, int n, long) {
        for (int i = 0; i < n; ++i) c.encode(out + i * B, in + i * B);
    }
    template <class T>
    static auto decode_many(T& c, unsigned char* out, const unsigned char* in, int n, int)
        -> decltype(c.decode_blocks(out, in, n), void()) {
        c.decode_blocks(out, in, n);
    }
    template <class T>
    static void decode_many(T& c, unsigned char* out, const unsigned char* in, int n, long) {
        for (int i = 0; i < n; ++i) c.decode(out + i * B, in + i * B);
    }
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_BLOCK_MODE_H

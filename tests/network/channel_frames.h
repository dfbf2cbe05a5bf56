#ifndef XELMD_TESTS_NETWORK_CHANNEL_FRAMES_H
#define XELMD_TESTS_NETWORK_CHANNEL_FRAMES_H

// Wire frames written out byte by byte from the layout tables (not through
// the library's packet builder), so a layout mistake shared by the channel
// and the builder still shows.
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>
#include <string>

#include "network/channel.h"
#include "network/crp_packet.h"

namespace ChannelFrames {

using Bytes = std::string;

inline void put16(Bytes& b, unsigned int v) {
    b += static_cast<char>(v >> 8);
    b += static_cast<char>(v);
}
inline void put32(Bytes& b, unsigned long v) {
    put16(b, static_cast<unsigned int>(v >> 16) & 0xffff);
    put16(b, static_cast<unsigned int>(v) & 0xffff);
}

// A protocol packet: the 20-byte header, then `body` as its field area.
inline Bytes packet(unsigned short subject, unsigned long sequence, const Bytes& body) {
    Bytes p;
    p += '\x04';  // version
    p += 'L';     // chain
    put16(p, subject);
    put32(p, 0x3001);  // tid
    put32(p, sequence & 0xffffffffUL);
    p += static_cast<char>(sequence >> 32);
    p += '\x01';  // field_count
    put16(p, static_cast<unsigned int>(body.size()));
    put32(p, 0);  // request_id
    return p + body;
}

// A field area of n bytes that looks like a depth record: a field header,
// text, small numbers and runs of zeros.
inline Bytes body(int n, unsigned int seed) {
    Bytes b;
    put16(b, 0x2439);
    put16(b, static_cast<unsigned int>(n - 4));
    for (int i = 4; i < n; ++i) {
        unsigned int k = (i * 7 + seed) % 23;
        b += static_cast<char>(k < 12 ? 0 : k < 18 ? 'A' + k : 0xE0 + k % 16);
    }
    return b;
}

// A data frame around a packet: transport header (type 2, content length),
// compression header (version, method).
inline Bytes frame(const Bytes& packet, unsigned char method = 0, unsigned char version = 1) {
    Bytes f;
    f += '\x02';
    f += '\x00';
    put16(f, static_cast<unsigned int>(packet.size() + 2));
    f += static_cast<char>(version);
    f += static_cast<char>(method);
    return f + packet;
}

inline Bytes data_frame(unsigned short subject, unsigned long sequence, int body_size,
                        unsigned int seed = 0) {
    return frame(packet(subject, sequence, body(body_size, seed)));
}

// The zero-run compressed form (method 3) of a packet.
inline Bytes zero_frame(const Bytes& packet) {
    unsigned char out[8194];
    int n = sizeof out;
    Network::CrpPacket::encode_zero(out, n, reinterpret_cast<const unsigned char*>(packet.data()),
                                    static_cast<int>(packet.size()));
    return frame(Bytes(reinterpret_cast<char*>(out), n), 3);
}

inline Bytes interval_frame(unsigned long seconds) {
    Bytes f("\x00\x06\x00\x00\x07\x04", 6);
    put32(f, seconds);
    return f;
}

inline Bytes heartbeat_frame() {
    return Bytes("\x00\x02\x00\x00\x05\x00", 6);
}

// Single DES lives in libcrypto's legacy provider; loaded once per process.
inline void load_legacy_ciphers() {
    [[maybe_unused]] static OSSL_PROVIDER* loaded[] = {OSSL_PROVIDER_load(nullptr, "legacy"),
                                                       OSSL_PROVIDER_load(nullptr, "default")};
}

// Bytes enciphered as a channel of the given type does it, from outside the
// library: XOR takes word i with key + i (little-endian) and the tail with the
// key; counter mode runs libcrypto's ECB over COUNTER_IV, IV + 1, ...
// (big-endian) keyed with the key's host-order bytes twice; type 0 is clear.
inline Bytes encipher_content(int type, unsigned long key, const Bytes& in) {
    Bytes out = in;
    if (type == Network::Channel::CIPHER_XOR) {
        const size_t words = in.size() / 8;
        for (size_t i = 0; i < in.size(); ++i)
            out[i] ^= static_cast<char>((i < words * 8 ? key + i / 8 : key) >> (8 * (i % 8)));
        return out;
    }
    if (type < Network::Channel::CIPHER_DES) return out;
    load_legacy_ciphers();
    const EVP_CIPHER* ecb = type == Network::Channel::CIPHER_DES   ? EVP_des_ecb()
                            : type == Network::Channel::CIPHER_AES ? EVP_aes_128_ecb()
                                                                   : EVP_sm4_ecb();
    const int bs = EVP_CIPHER_block_size(ecb);
    unsigned char block[16], counter[16];
    memcpy(block, &key, 8);
    memcpy(block + 8, &key, 8);
    memcpy(counter, Network::Channel::COUNTER_IV, bs);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, ecb, nullptr, block, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    for (size_t pos = 0; pos < in.size(); pos += bs) {
        unsigned char stream[16];
        int n = 0;
        EVP_EncryptUpdate(ctx, stream, &n, counter, bs);
        for (size_t i = 0; i < static_cast<size_t>(bs) && pos + i < in.size(); ++i)
            out[pos + i] ^= static_cast<char>(stream[i]);
        for (int i = bs - 1; i >= 0 && ++counter[i] == 0; --i) {
        }
    }
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

// A frame with its content enciphered, the 4-byte transport header clear.
inline Bytes encipher(int type, unsigned long key, const Bytes& frame) {
    return frame.substr(0, 4) + encipher_content(type, key, frame.substr(4));
}

}  // namespace ChannelFrames

#endif  // XELMD_TESTS_NETWORK_CHANNEL_FRAMES_H

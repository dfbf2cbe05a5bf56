#ifndef XELMD_TESTS_NETWORK_CHANNEL_FRAMES_H
#define XELMD_TESTS_NETWORK_CHANNEL_FRAMES_H

// Wire frames written out byte by byte from the layout tables (not through
// the library's packet builder), so a layout mistake shared by the channel
// and the builder still shows.
#include <string>

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

inline const Bytes& heartbeat_frame() {
    static const Bytes hb("\x00\x02\x00\x00\x05\x00", 6);
    return hb;
}

}  // namespace ChannelFrames

#endif  // XELMD_TESTS_NETWORK_CHANNEL_FRAMES_H

#ifndef XELMD_NETWORK_CRP_PACKET_H
#define XELMD_NETWORK_CRP_PACKET_H

namespace Network {

// The two-byte compression header of a data unit and the zero-run code that
// squeezes the protocol packet behind it. Stateless; any thread.
class CrpPacket {
  public:
    static const int HEADER_SIZE = 2;
    static const unsigned char VERSION = 1;
    static const unsigned char METHOD_PLAIN = 0;
    static const unsigned char METHOD_ZERO = 3;

    struct Header {
        unsigned char version;  // always 1
        unsigned char method;   // METHOD_PLAIN or METHOD_ZERO
    };

    static void to_stream(const Header* header, char* out);
    static void from_stream(Header* header, const char* in);

    // Zero-run code: a run of 1..15 zero bytes becomes 0xE0 + k, a byte in
    // 0xE0..0xEF is escaped as 0xE0 followed by itself, other bytes pass.
    // out_length is the capacity on entry and the bytes written on success.
    // Results: 0; -2 when the output does not fit (out_length unchanged);
    // decode_zero also gives -1 for an escape with no byte after it.
    static int encode_zero(unsigned char* out, int& out_length, const unsigned char* in,
                           int in_length);
    static int decode_zero(unsigned char* out, int& out_length, const unsigned char* in,
                           int in_length);
};

}  // namespace Network

#endif  // XELMD_NETWORK_CRP_PACKET_H

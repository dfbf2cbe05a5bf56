#ifndef XELMD_NETWORK_XMP_PACKET_H
#define XELMD_NETWORK_XMP_PACKET_H

#include <cfloat>
#include <cstdint>
#include <cstring>

#include "base/byte_order.h"

namespace Base {
class FieldDesc;
}

namespace Network {

// The four-byte transport header of every unit, the header in front of each
// field of a protocol packet, and the descriptor-driven record coders that
// send fixed-point members as IEEE doubles. Stateless; any thread.
class XmpPacket {
  public:
    static const unsigned short MAX_PACKAGE_SIZE = 4100;
    static const unsigned short MAX_BODY_SIZE = 4096;
    static const unsigned char TYPE_CONTROL = 0;
    static const unsigned char TYPE_DATA = 2;
    static const int HEADER_SIZE = 4;
    static const int FIELD_HEADER_SIZE = 4;
    // Wire offsets of the transport header's members.
    static const int EXT_LENGTH_AT = 1;
    static const int CONTENT_LENGTH_AT = 2;

    struct Header {
        unsigned char type;
        unsigned char ext_length;
        unsigned short content_length;
    };

    struct FieldHeader {
        unsigned short field_id;
        unsigned short field_length;
    };

    static void to_stream(const Header* header, char* out);
    static void from_stream(Header* header, const char* in);
    // Bytes of the frame whose transport header starts at frame: the header
    // and its content (extension included).
    static unsigned int get_frame_length(const char* frame) {
        return Base::load_be16(frame + CONTENT_LENGTH_AT) + static_cast<unsigned int>(HEADER_SIZE);
    }
    static unsigned int get_ext_length(const char* frame) {
        return static_cast<unsigned char>(frame[EXT_LENGTH_AT]);
    }
    static void set_content_length(char* frame, unsigned short length) {
        Base::store_be16(frame + CONTENT_LENGTH_AT, length);
    }
    static void to_stream(const FieldHeader* header, char* out);
    static void from_stream(FieldHeader* header, const char* in);

    // Record to wire form; members whose record range passes `length` and
    // everything after them go out as zeros.
    static void to_stream(const Base::FieldDesc* desc, const void* record, void* stream,
                          int length);
    // Wire form of `length` bytes to record; returns the members read in
    // full. With keep_double the fixed-point members keep the doubles.
    static int from_stream(const Base::FieldDesc* desc, void* record, const void* stream,
                           int length, bool keep_double);
    // Fixed-point members to doubles and back; other members copied.
    static void to_struct(const Base::FieldDesc* desc, const void* src, void* dst, int length);
    static void to_struct(const Base::FieldDesc* desc, void* record);
    static int from_struct(const Base::FieldDesc* desc, void* dst, const void* src, int length);
    static void from_struct(const Base::FieldDesc* desc, void* record);

    // Element conversions shared by the generic coders above and the
    // generated per-record ones, so both give the same bits.
    static double fixed_value(int64_t v, double inverse) {
        return v == INT64_MAX ? DBL_MAX : static_cast<double>(v) * inverse;
    }
    // Rounds 1e-9 away from zero and truncates. The largest double is null;
    // so is anything without a 64-bit image (NaN, infinities, overflow).
    static int64_t fixed_from(double d, double power) {
        if (d == DBL_MAX) return INT64_MAX;
        double x = (d >= 0 ? d + 1e-9 : d - 1e-9) * power;
        if (!(x > -9.2e18 && x < 9.2e18)) return INT64_MAX;
        return static_cast<int64_t>(x);
    }
    static void put_fixed(void* wire, const void* mem, double inverse) {
        int64_t v;
        memcpy(&v, mem, 8);
        Base::store_be64(wire, Base::double_to_bits(fixed_value(v, inverse)));
    }
    static void get_fixed(void* mem, const void* wire, double power, bool keep_double) {
        uint64_t bits = Base::load_be64(wire);
        if (keep_double) {
            memcpy(mem, &bits, 8);
            return;
        }
        int64_t v = fixed_from(Base::bits_to_double(bits), power);
        memcpy(mem, &v, 8);
    }
    static void fixed_to_double(void* dst, const void* src, double inverse) {
        int64_t v;
        memcpy(&v, src, 8);
        double d = fixed_value(v, inverse);
        memcpy(dst, &d, 8);
    }
    static void double_to_fixed(void* dst, const void* src, double power) {
        double d;
        memcpy(&d, src, 8);
        int64_t v = fixed_from(d, power);
        memcpy(dst, &v, 8);
    }
};

}  // namespace Network

#endif  // XELMD_NETWORK_XMP_PACKET_H

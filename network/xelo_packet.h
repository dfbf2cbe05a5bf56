#ifndef XELMD_NETWORK_XELO_PACKET_H
#define XELMD_NETWORK_XELO_PACKET_H

#include "base/byte_order.h"
#include "network/crp_packet.h"
#include "network/xmp_packet.h"

namespace Base {
class FieldDesc;
}

namespace Network {

// A protocol packet: a 20-byte header and a field area of fields, each a
// FieldHeader and the field's wire form. The packet builds in place in a
// caller's buffer. One thread at a time.
class XeloPacket {
  public:
    static const unsigned short MAX_BODY_SIZE = 4000;
    static const unsigned short MAX_PACKAGE_SIZE = 4026;
    static const int HEADER_SIZE = 20;
    static const int MAX_FIELD_COUNT = 255;
    // Wire offsets of the header's members.
    static const int SERIES_AT = 2;
    static const int TID_AT = 4;
    static const int SEQUENCE_AT = 8;
    static const int SEQUENCE_HIGH_AT = 12;
    static const int FIELD_COUNT_AT = 13;
    static const int CONTENT_LENGTH_AT = 14;
    static const int REQUEST_ID_AT = 16;
    // A data unit is a transport header, a compression header and the
    // packet; with no extension the packet starts at UNIT_PREFIX_SIZE and its
    // first field at UNIT_FIELDS_AT.
    static const int UNIT_PREFIX_SIZE = XmpPacket::HEADER_SIZE + CrpPacket::HEADER_SIZE;
    static const int UNIT_FIELDS_AT = UNIT_PREFIX_SIZE + HEADER_SIZE;
    static const unsigned char VERSION = 4;
    static const unsigned char CHAIN_LAST = 'L';

    // Host-order image of the wire header; natural alignment makes it the
    // same 20 bytes long.
    struct Header {
        unsigned char version;
        unsigned char chain;
        unsigned short sequence_series;
        unsigned int tid;
        unsigned int sequence_no;        // bits 0..31 of the sequence number
        unsigned char sequence_no_high;  // bits 32..39
        unsigned char field_count;
        unsigned short content_length;
        unsigned int request_id;
    };

    typedef void (*ToStream)(const void* record, void* out, int length);
    typedef int (*FromStream)(void* record, const void* in, int length, bool keep_double);

    XeloPacket(unsigned int tid, unsigned int request_id, unsigned char chain);

    // Builds in buffer: the header goes to its first 20 bytes at commit, the
    // fields follow.
    void attach(void* buffer);
    // Appends a field header for size bytes and returns its data area; null
    // (nothing added) past 255 fields or 4000 bytes of field area.
    void* add_field(unsigned short field_id, unsigned short size);
    // Appends desc's field with record's wire form (through the given
    // generated coder, else the generic one); a null record only reserves.
    void* add_field(const Base::FieldDesc* desc, const void* record, ToStream to_stream);
    // Writes the wire header; returns the packet length.
    int commit();

    unsigned long get_sequence() const;
    void set_sequence(unsigned long sequence);

    static void to_stream(const Header* header, char* out);
    // Reads the header from the length bytes at in; false (header left
    // undefined) when they hold fewer than 20 bytes or less field area than
    // the header's content_length claims.
    static bool from_stream(Header* header, const char* in, int length);
    // Start of the unit's transport header in front of a packet's field area.
    static void* get_xmp_header(const void* field_area);
    static unsigned long get_sequence(const Header* header);
    // Reads of a wire header in place (at least 20 bytes there).
    static unsigned short get_content_length(const char* packet) {
        return Base::load_be16(packet + CONTENT_LENGTH_AT);
    }
    // Header and field area of a wire packet, as its header claims.
    static unsigned int get_wire_length(const char* packet) {
        return get_content_length(packet) + static_cast<unsigned int>(HEADER_SIZE);
    }
    // Writes series and sequence number into a wire header in place (its
    // first 13 bytes must be there).
    static void stamp(char* packet, unsigned short series, unsigned long sequence);
    // Offset of the packet inside a data unit: behind both headers and the
    // transport header's extension.
    static unsigned int get_unit_packet_offset(const char* unit) {
        return UNIT_PREFIX_SIZE + XmpPacket::get_ext_length(unit);
    }

    // Walks the fields of a received packet. One thread at a time.
    class Iterator {
      public:
        // A null field_area means the bytes right behind the header; a null
        // header makes an iterator that finds no field until attached.
        Iterator(const Header* header, const void* field_area);
        void attach(const Header* header, const void* field_area);
        // Id of the next field; -1 at the end or at a field cut off by the
        // header's content_length.
        // Inline, with the field accessors: they run for every field of
        // every update.
        int next() {
            if (header_ == nullptr || area_ == nullptr) return -1;
            const int limit = header_->content_length;
            int at = position_;
            if (at + XmpPacket::FIELD_HEADER_SIZE > limit) return -1;
            const unsigned short id = Base::load_be16(area_ + at);
            const unsigned short length = Base::load_be16(area_ + at + 2);
            at += XmpPacket::FIELD_HEADER_SIZE;
            if (at + length > limit) {
                position_ = static_cast<unsigned short>(limit);  // stays at the end
                return -1;
            }
            position_ = static_cast<unsigned short>(at + length);
            field_id_ = id;
            field_length_ = length;
            return field_id_;
        }
        // Bytes of the field area walked so far; the header's content_length
        // once the last field has been taken.
        unsigned short get_position() const { return position_; }
        const void* get_field(unsigned short& length) const {
            length = field_length_;
            return area_ + position_ - field_length_;
        }
        int get_field(void* record, const Base::FieldDesc* desc, bool keep_double) const;
        int get_field(void* record, FromStream from_stream, bool keep_double) const {
            unsigned short length;
            const void* data = get_field(length);
            return from_stream(record, data, length, keep_double);
        }

      private:
        const Header* header_;
        const char* area_;
        unsigned short position_;
        unsigned short field_id_;
        unsigned short field_length_;
    };

    Header header;

  private:
    char* area_;
};

}  // namespace Network

#endif  // XELMD_NETWORK_XELO_PACKET_H

#include "network/xelo_packet.h"

#include <cstddef>

#include "base/byte_order.h"
#include "base/field_desc.h"

namespace Network {

static_assert(sizeof(XeloPacket::Header) == XeloPacket::HEADER_SIZE, "packet header image");
// The host image keeps the wire order, so both name the same offsets.
static_assert(offsetof(XeloPacket::Header, sequence_series) == XeloPacket::SERIES_AT, "series");
static_assert(offsetof(XeloPacket::Header, tid) == XeloPacket::TID_AT, "tid");
static_assert(offsetof(XeloPacket::Header, sequence_no) == XeloPacket::SEQUENCE_AT, "sequence");
static_assert(offsetof(XeloPacket::Header, sequence_no_high) == XeloPacket::SEQUENCE_HIGH_AT,
              "sequence high");
static_assert(offsetof(XeloPacket::Header, field_count) == XeloPacket::FIELD_COUNT_AT, "count");
static_assert(offsetof(XeloPacket::Header, content_length) == XeloPacket::CONTENT_LENGTH_AT,
              "content length");
static_assert(offsetof(XeloPacket::Header, request_id) == XeloPacket::REQUEST_ID_AT, "request");

XeloPacket::XeloPacket(unsigned int tid, unsigned int request_id, unsigned char chain)
    : area_(nullptr) {
    memset(&header, 0, sizeof header);
    header.version = VERSION;
    header.chain = chain;
    header.tid = tid;
    header.request_id = request_id;
}

void XeloPacket::attach(void* buffer) {
    area_ = static_cast<char*>(buffer) + HEADER_SIZE;
    header.field_count = 0;
    header.content_length = 0;
    header.request_id = 0;
    header.chain = CHAIN_LAST;
}

void* XeloPacket::add_field(unsigned short field_id, unsigned short size) {
    if (!area_ || header.field_count >= MAX_FIELD_COUNT) return nullptr;
    int end = header.content_length + XmpPacket::FIELD_HEADER_SIZE + size;
    if (end > MAX_BODY_SIZE) return nullptr;
    char* at = area_ + header.content_length;
    XmpPacket::FieldHeader fh = {field_id, size};
    XmpPacket::to_stream(&fh, at);
    header.content_length = static_cast<unsigned short>(end);
    ++header.field_count;
    return at + XmpPacket::FIELD_HEADER_SIZE;
}

void* XeloPacket::add_field(const Base::FieldDesc* desc, const void* record, ToStream coder) {
    void* data = add_field(desc->field_id, desc->stream_size);
    if (!data || !record) return data;
    if (coder) {
        coder(record, data, desc->struct_size);
    } else {
        XmpPacket::to_stream(desc, record, data, desc->struct_size);
    }
    return data;
}

int XeloPacket::commit() {
    to_stream(&header, area_ - HEADER_SIZE);
    return HEADER_SIZE + header.content_length;
}

unsigned long XeloPacket::get_sequence(const Header* h) {
    return (static_cast<unsigned long>(h->sequence_no_high) << 32) | h->sequence_no;
}

unsigned long XeloPacket::get_sequence() const {
    return get_sequence(&header);
}

void XeloPacket::set_sequence(unsigned long sequence) {
    header.sequence_no = static_cast<unsigned int>(sequence);
    header.sequence_no_high = static_cast<unsigned char>(sequence >> 32);
}

void XeloPacket::to_stream(const Header* h, char* out) {
    out[0] = static_cast<char>(h->version);
    out[1] = static_cast<char>(h->chain);
    Base::store_be16(out + SERIES_AT, h->sequence_series);
    Base::store_be32(out + TID_AT, h->tid);
    Base::store_be32(out + SEQUENCE_AT, h->sequence_no);
    out[SEQUENCE_HIGH_AT] = static_cast<char>(h->sequence_no_high);
    out[FIELD_COUNT_AT] = static_cast<char>(h->field_count);
    Base::store_be16(out + CONTENT_LENGTH_AT, h->content_length);
    Base::store_be32(out + REQUEST_ID_AT, h->request_id);
}

void XeloPacket::stamp(char* packet, unsigned short series, unsigned long sequence) {
    Base::store_be16(packet + SERIES_AT, series);
    Base::store_be32(packet + SEQUENCE_AT, static_cast<unsigned int>(sequence));
    packet[SEQUENCE_HIGH_AT] = static_cast<char>(sequence >> 32);
}

bool XeloPacket::from_stream(Header* h, const char* in, int length) {
    if (length < HEADER_SIZE) return false;
    h->version = static_cast<unsigned char>(in[0]);
    h->chain = static_cast<unsigned char>(in[1]);
    h->sequence_series = Base::load_be16(in + SERIES_AT);
    h->tid = Base::load_be32(in + TID_AT);
    h->sequence_no = Base::load_be32(in + SEQUENCE_AT);
    h->sequence_no_high = static_cast<unsigned char>(in[SEQUENCE_HIGH_AT]);
    h->field_count = static_cast<unsigned char>(in[FIELD_COUNT_AT]);
    h->content_length = get_content_length(in);
    h->request_id = Base::load_be32(in + REQUEST_ID_AT);
    return h->content_length <= length - HEADER_SIZE;
}

void* XeloPacket::get_xmp_header(const void* field_area) {
    return const_cast<char*>(static_cast<const char*>(field_area)) - HEADER_SIZE - UNIT_PREFIX_SIZE;
}

XeloPacket::Iterator::Iterator(const Header* header, const void* field_area) {
    attach(header, field_area);
}

void XeloPacket::Iterator::attach(const Header* header, const void* field_area) {
    header_ = header;
    if (field_area != nullptr)
        area_ = static_cast<const char*>(field_area);
    else if (header != nullptr)
        area_ = reinterpret_cast<const char*>(header) + HEADER_SIZE;
    else
        area_ = nullptr;
    position_ = 0;
    field_id_ = 0;
    field_length_ = 0;
}

int XeloPacket::Iterator::get_field(void* record, const Base::FieldDesc* desc,
                                    bool keep_double) const {
    unsigned short length;
    const void* data = get_field(length);
    return XmpPacket::from_stream(desc, record, data, length, keep_double);
}

}  // namespace Network

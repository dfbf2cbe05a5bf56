#include "network/xmp_packet.h"

#include "base/field_desc.h"

namespace Network {

void XmpPacket::to_stream(const Header* header, char* out) {
    out[0] = static_cast<char>(header->type);
    out[EXT_LENGTH_AT] = static_cast<char>(header->ext_length);
    Base::store_be16(out + CONTENT_LENGTH_AT, header->content_length);
}

void XmpPacket::from_stream(Header* header, const char* in) {
    header->type = static_cast<unsigned char>(in[0]);
    header->ext_length = static_cast<unsigned char>(in[EXT_LENGTH_AT]);
    header->content_length = Base::load_be16(in + CONTENT_LENGTH_AT);
}

void XmpPacket::to_stream(const FieldHeader* header, char* out) {
    Base::store_be16(out, header->field_id);
    Base::store_be16(out + 2, header->field_length);
}

void XmpPacket::from_stream(FieldHeader* header, const char* in) {
    header->field_id = Base::load_be16(in);
    header->field_length = Base::load_be16(in + 2);
}

namespace {

typedef Base::FieldDesc::MemberDesc Member;

void member_to_wire(const Member& m, const char* r, char* s) {
    if (Base::is_fixed_point(m.type)) {
        double inverse = Base::FIXED_POINT_INVERSE[Base::fixed_point_digits(m.type)];
        for (int e = 0; e < m.count; ++e) {
            XmpPacket::put_fixed(s + m.stream_offset + e * 8, r + m.offset + e * 8, inverse);
        }
    } else if (Base::is_swapped_number(m.type)) {
        for (int e = 0; e < m.count; ++e) {
            int at = e * m.element_size;
            Base::swap_copy(s + m.stream_offset + at, r + m.offset + at, m.element_size);
        }
    } else {
        memcpy(s + m.stream_offset, r + m.offset, static_cast<size_t>(m.size));
    }
}

void member_from_wire(const Member& m, char* r, const char* s, bool keep_double) {
    if (Base::is_fixed_point(m.type)) {
        double power = Base::FIXED_POINT_POWER[Base::fixed_point_digits(m.type)];
        for (int e = 0; e < m.count; ++e) {
            XmpPacket::get_fixed(r + m.offset + e * 8, s + m.stream_offset + e * 8, power,
                                 keep_double);
        }
    } else if (Base::is_swapped_number(m.type)) {
        for (int e = 0; e < m.count; ++e) {
            int at = e * m.element_size;
            Base::swap_copy(r + m.offset + at, s + m.stream_offset + at, m.element_size);
        }
    } else {
        memcpy(r + m.offset, s + m.stream_offset, static_cast<size_t>(m.size));
        // A peer may fill a string to its full width; the record keeps its
        // terminator.
        if (m.type == TYPE_STRING)
            for (int e = 1; e <= m.count; ++e) r[m.offset + e * m.element_size - 1] = 0;
    }
}

// One member between the integer and the double form (src and dst may be
// the same record).
void convert_member(const Member& m, const char* src, char* dst, bool to_double) {
    if (!Base::is_fixed_point(m.type)) {
        if (src != dst) memcpy(dst + m.offset, src + m.offset, static_cast<size_t>(m.size));
        return;
    }
    int n = Base::fixed_point_digits(m.type);
    for (int e = 0; e < m.count; ++e) {
        int at = m.offset + e * 8;
        if (to_double) {
            XmpPacket::fixed_to_double(dst + at, src + at, Base::FIXED_POINT_INVERSE[n]);
        } else {
            XmpPacket::double_to_fixed(dst + at, src + at, Base::FIXED_POINT_POWER[n]);
        }
    }
}

// Converts members while they fit in length; zeroes dst from the first that
// does not. Returns the members converted.
int convert(const Base::FieldDesc* desc, const void* src, void* dst, int length, bool to_double) {
    const char* s = static_cast<const char*>(src);
    char* d = static_cast<char*>(dst);
    for (int i = 0; i < desc->member_count; ++i) {
        const Member& m = desc->members[i];
        if (m.offset + m.size > length) {
            memset(d + m.offset, 0, static_cast<size_t>(desc->struct_size - m.offset));
            return i;
        }
        convert_member(m, s, d, to_double);
    }
    return desc->member_count;
}

}  // namespace

void XmpPacket::to_stream(const Base::FieldDesc* desc, const void* record, void* stream,
                          int length) {
    const char* r = static_cast<const char*>(record);
    char* s = static_cast<char*>(stream);
    for (int i = 0; i < desc->member_count; ++i) {
        const Member& m = desc->members[i];
        if (m.offset + m.size > length) {
            memset(s + m.stream_offset, 0,
                   static_cast<size_t>(desc->stream_size - m.stream_offset));
            return;
        }
        member_to_wire(m, r, s);
    }
}

int XmpPacket::from_stream(const Base::FieldDesc* desc, void* record, const void* stream,
                           int length, bool keep_double) {
    char* r = static_cast<char*>(record);
    const char* s = static_cast<const char*>(stream);
    for (int i = 0; i < desc->member_count; ++i) {
        const Member& m = desc->members[i];
        if (m.stream_offset + m.size > length) {
            memset(r + m.offset, 0, static_cast<size_t>(desc->struct_size - m.offset));
            return i;
        }
        member_from_wire(m, r, s, keep_double);
    }
    return desc->member_count;
}

void XmpPacket::to_struct(const Base::FieldDesc* desc, const void* src, void* dst, int length) {
    convert(desc, src, dst, length, true);
}

void XmpPacket::to_struct(const Base::FieldDesc* desc, void* record) {
    convert(desc, record, record, desc->struct_size, true);
}

int XmpPacket::from_struct(const Base::FieldDesc* desc, void* dst, const void* src, int length) {
    return convert(desc, src, dst, length, false);
}

void XmpPacket::from_struct(const Base::FieldDesc* desc, void* record) {
    convert(desc, record, record, desc->struct_size, false);
}

}  // namespace Network

#include "base/field_desc.h"

#include <cfloat>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/byte_order.h"
#include "base/hash.h"
#include "base/map.h"
#include "base/vint.h"

namespace Base {

namespace {

void copy_text(char* dst, const char* src, int size) {
    int n = 0;
    if (src) {
        while (n < size - 1 && src[n] != '\0') ++n;
        memcpy(dst, src, static_cast<size_t>(n));
    }
    memset(dst + n, 0, static_cast<size_t>(size - n));
}

// 2-, 4- and 8-byte numbers travel big-endian; everything else as it is.
bool is_swapped(int type) {
    return is_swapped_number(type) || is_fixed_point(type);
}

}  // namespace

FieldDesc::FieldDesc(unsigned short id, const char* name)
    : member_count(0), field_id(id), struct_size(0), stream_size(0), member_index(nullptr) {
    copy_text(field_name, name, FIELD_NAME_SIZE);
    member_index = new Map(TYPE_STRING, 64, NAME_SIZE, sizeof(int), 64, 1, nullptr);
}

FieldDesc::FieldDesc(unsigned short id, int size, const char* name, void (*describe)())
    : FieldDesc(id, name) {
    struct_size = static_cast<unsigned short>(size);
    if (describe) describe();
}

FieldDesc::~FieldDesc() {
    delete member_index;
}

void FieldDesc::setup_member(DataType type, int size, int element_size, int count, int offset,
                             const char* type_name, const char* name, bool is_key) {
    if (member_count >= MAX_MEMBERS) return;
    MemberDesc& m = members[member_count];
    m.type = type;
    m.size = size;
    m.element_size = element_size;
    m.count = count;
    m.offset = offset;
    m.stream_offset = stream_size;
    copy_text(m.type_name, type_name, TYPE_NAME_SIZE);
    copy_text(m.name, name, NAME_SIZE);
    m.is_key = is_key;
    stream_size = static_cast<unsigned short>(stream_size + size);
    index_member(member_count);
    ++member_count;
}

void FieldDesc::add_member(DataType type, int size, const char* type_name, const char* name,
                           bool is_key) {
    setup_member(type, size, size, 1, struct_size, type_name, name, is_key);
    struct_size = static_cast<unsigned short>(struct_size + size);
}

void FieldDesc::add_member(const MemberDesc* m) {
    add_member(m->type, m->size, m->type_name, m->name, m->is_key);
}

void FieldDesc::clear() {
    member_count = 0;
    field_id = 0;
    field_name[0] = '\0';
    struct_size = 0;
    stream_size = 0;
    member_index->clear();
}

void FieldDesc::copy(const FieldDesc* other) {
    if (other == this) return;
    member_count = other->member_count;
    memcpy(members, other->members, sizeof(MemberDesc) * static_cast<size_t>(member_count));
    field_id = other->field_id;
    memcpy(field_name, other->field_name, FIELD_NAME_SIZE);
    struct_size = other->struct_size;
    stream_size = other->stream_size;
    rebuild_index();
}

bool FieldDesc::is_same(const FieldDesc* a, const FieldDesc* b) {
    if (a->member_count != b->member_count) return false;
    for (int i = 0; i < a->member_count; ++i) {
        const MemberDesc& x = a->members[i];
        const MemberDesc& y = b->members[i];
        if (x.type != y.type || x.size != y.size || x.element_size != y.element_size ||
            x.count != y.count || x.offset != y.offset || x.stream_offset != y.stream_offset ||
            x.is_key != y.is_key || strcmp(x.type_name, y.type_name) != 0 ||
            strcmp(x.name, y.name) != 0) {
            return false;
        }
    }
    return true;
}

void FieldDesc::index_member(int index) {
    member_index->insert(members[index].name, &index);
}

void FieldDesc::rebuild_index() {
    member_index->clear();
    for (int i = 0; i < member_count; ++i) index_member(i);
}

const FieldDesc::MemberDesc* FieldDesc::get_member_desc(int index) const {
    if (index < 0 || index >= member_count) return nullptr;
    return &members[index];
}

int FieldDesc::get_member_index(const char* name) const {
    if (!name) return -1;
    char key[NAME_SIZE];
    copy_text(key, name, NAME_SIZE);
    const void* value = member_index->search(key);
    if (!value) return -1;
    int index;
    memcpy(&index, value, sizeof index);
    return index;
}

void* FieldDesc::get_member(const void* record, int index) const {
    if (index < 0 || index >= member_count) return nullptr;
    return const_cast<char*>(static_cast<const char*>(record)) + members[index].offset;
}

void* FieldDesc::alloc_field() const {
    return malloc(struct_size > 0 ? struct_size : 1);
}

void FieldDesc::free_field(void* record) {
    free(record);
}

void FieldDesc::copy_field(void* dst, const void* src) const {
    memcpy(dst, src, struct_size);
}

void FieldDesc::to_stream(const void* record, void* stream, int length) const {
    const char* r = static_cast<const char*>(record);
    char* s = static_cast<char*>(stream);
    for (int i = 0; i < member_count; ++i) {
        const MemberDesc& m = members[i];
        if (m.offset + m.size > length) {
            memset(s + m.stream_offset, 0, static_cast<size_t>(stream_size - m.stream_offset));
            return;
        }
        if (!is_swapped(m.type)) {
            memcpy(s + m.stream_offset, r + m.offset, static_cast<size_t>(m.size));
            continue;
        }
        for (int e = 0; e < m.count; ++e) {
            int at = e * m.element_size;
            swap_copy(s + m.stream_offset + at, r + m.offset + at, m.element_size);
        }
    }
}

void FieldDesc::from_stream(void* record, const void* stream, int length) const {
    char* r = static_cast<char*>(record);
    const char* s = static_cast<const char*>(stream);
    for (int i = 0; i < member_count; ++i) {
        const MemberDesc& m = members[i];
        if (m.stream_offset + m.size > length) {
            memset(r + m.offset, 0, static_cast<size_t>(struct_size - m.offset));
            return;
        }
        if (!is_swapped(m.type)) {
            memcpy(r + m.offset, s + m.stream_offset, static_cast<size_t>(m.size));
            // Strings keep their terminator whatever the stream held.
            if (m.type == TYPE_STRING)
                for (int e = 1; e <= m.count; ++e) r[m.offset + e * m.element_size - 1] = 0;
            continue;
        }
        for (int e = 0; e < m.count; ++e) {
            int at = e * m.element_size;
            swap_copy(r + m.offset + at, s + m.stream_offset + at, m.element_size);
        }
    }
}

namespace {

// Bounded writer and reader of the compact forms; a failed step sticks.
struct VarOut {
    unsigned char* p;
    int capacity;
    int used;
    bool ok;

    void put_vint(unsigned long value) {
        unsigned char buf[10];
        int n = VInt::encode_vint64(value, buf, true);
        put_bytes(buf, n);
    }
    void put_bytes(const void* data, int n) {
        if (!ok || n > capacity - used) {
            ok = false;
            return;
        }
        memcpy(p + used, data, static_cast<size_t>(n));
        used += n;
    }
    // VInt(length) and the characters, at most max - 1 of them.
    void put_text(const char* text, int max) {
        int n = 0;
        while (n < max - 1 && text[n] != '\0') ++n;
        put_vint(static_cast<unsigned long>(n));
        put_bytes(text, n);
    }
};

struct VarIn {
    const unsigned char* p;
    int length;
    int used;
    bool ok;

    unsigned long get_vint() {
        if (!ok) return 0;
        int n = VInt::get_bytes_num(p + used, length - used);
        if (n == 0 || n > 10) {
            ok = false;
            return 0;
        }
        unsigned long v = VInt::decode_vint64(p + used, n, true);
        used += n;
        return v;
    }
    // A value that must fit an int between 0 and max.
    int get_int(long max) {
        unsigned long v = get_vint();
        if (v > static_cast<unsigned long>(max)) ok = false;
        return ok ? static_cast<int>(v) : 0;
    }
    void get_bytes(void* out, int n) {
        if (!ok || n < 0 || n > length - used) {
            ok = false;
            return;
        }
        memcpy(out, p + used, static_cast<size_t>(n));
        used += n;
    }
    // Into a buffer of `size` bytes: the characters and a NUL.
    void get_text(char* out, int size) {
        int n = get_int(size - 1);
        get_bytes(out, n);
        out[ok ? n : 0] = '\0';
    }
};

}  // namespace

int FieldDesc::to_var_stream(const void* record, void* out, int capacity) const {
    VarOut w{static_cast<unsigned char*>(out), capacity, 0, true};
    const char* r = static_cast<const char*>(record);
    for (int i = 0; i < member_count && w.ok; ++i) {
        const MemberDesc& m = members[i];
        if (m.type != TYPE_STRING) {
            w.put_bytes(r + m.offset, m.size);
            continue;
        }
        for (int e = 0; e < m.count; ++e) {
            w.put_text(r + m.offset + e * m.element_size, m.element_size);
        }
    }
    return w.ok ? w.used : -1;
}

int FieldDesc::from_var_stream(void* record, const void* in, int length) const {
    VarIn rd{static_cast<const unsigned char*>(in), length, 0, true};
    char* r = static_cast<char*>(record);
    for (int i = 0; i < member_count && rd.ok; ++i) {
        const MemberDesc& m = members[i];
        if (m.type != TYPE_STRING) {
            rd.get_bytes(r + m.offset, m.size);
            continue;
        }
        for (int e = 0; e < m.count && rd.ok; ++e) {
            char* text = r + m.offset + e * m.element_size;
            rd.get_text(text, m.element_size);
            if (rd.ok) {
                size_t n = strlen(text);
                memset(text + n, 0, static_cast<size_t>(m.element_size) - n);
            }
        }
    }
    return rd.ok ? rd.used : -1;
}

int FieldDesc::to_var_stream(void* out, int capacity) const {
    VarOut w{static_cast<unsigned char*>(out), capacity, 0, true};
    w.put_vint(field_id);
    w.put_vint(struct_size);
    w.put_vint(stream_size);
    w.put_text(field_name, FIELD_NAME_SIZE);
    w.put_vint(static_cast<unsigned long>(member_count));
    for (int i = 0; i < member_count && w.ok; ++i) {
        const MemberDesc& m = members[i];
        unsigned char head[2] = {static_cast<unsigned char>(m.type),
                                 static_cast<unsigned char>(m.is_key ? 1 : 0)};
        w.put_bytes(head, 2);
        w.put_vint(static_cast<unsigned long>(m.size));
        w.put_vint(static_cast<unsigned long>(m.element_size));
        w.put_vint(static_cast<unsigned long>(m.count));
        w.put_vint(static_cast<unsigned long>(m.offset));
        w.put_vint(static_cast<unsigned long>(m.stream_offset));
        w.put_text(m.type_name, TYPE_NAME_SIZE);
        w.put_text(m.name, NAME_SIZE);
    }
    return w.ok ? w.used : -1;
}

// A member read from a file must keep every coder inside the record and the
// stream, whatever the file held.
bool FieldDesc::valid_member(const MemberDesc& m) const {
    if (m.count < 1 || m.element_size < 1) return false;
    if (static_cast<long>(m.element_size) * m.count != m.size) return false;
    int least = m.type == TYPE_BOOL ? 4 : DATA_TYPE_SIZE[m.type];
    if (m.element_size < least) return false;
    if (is_swapped(m.type) && m.element_size != DATA_TYPE_SIZE[m.type]) return false;
    return m.offset + m.size <= struct_size && m.stream_offset + m.size <= stream_size;
}

int FieldDesc::from_var_stream(const void* in, int length) {
    VarIn rd{static_cast<const unsigned char*>(in), length, 0, true};
    clear();
    field_id = static_cast<unsigned short>(rd.get_int(0xFFFF));
    struct_size = static_cast<unsigned short>(rd.get_int(0xFFFF));
    stream_size = static_cast<unsigned short>(rd.get_int(0xFFFF));
    rd.get_text(field_name, FIELD_NAME_SIZE);
    int count = rd.get_int(MAX_MEMBERS);
    for (int i = 0; i < count && rd.ok; ++i) {
        MemberDesc& m = members[i];
        unsigned char head[2] = {0, 0};
        rd.get_bytes(head, 2);
        if (head[0] >= TYPE_COUNT) rd.ok = false;  // never hold an out-of-range code
        m.type = rd.ok ? static_cast<DataType>(head[0]) : TYPE_NULL;
        m.is_key = head[1] != 0;
        m.size = rd.get_int(0xFFFF);
        m.element_size = rd.get_int(0xFFFF);
        m.count = rd.get_int(0xFFFF);
        m.offset = rd.get_int(0xFFFF);
        m.stream_offset = rd.get_int(0xFFFF);
        rd.get_text(m.type_name, TYPE_NAME_SIZE);
        rd.get_text(m.name, NAME_SIZE);
        if (rd.ok && !valid_member(m)) rd.ok = false;
        if (rd.ok) member_count = i + 1;
    }
    if (!rd.ok) {
        clear();
        return -1;
    }
    rebuild_index();
    return rd.used;
}

}  // namespace Base

// Null values, assignment, comparison and hashing of record members.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/byte_order.h"
#include "base/field_desc.h"
#include "base/hash.h"

namespace Base {

namespace {

template <typename T>
int order(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

int order_real(double a, double b, double epsilon) {
    if (std::fabs(a - b) <= epsilon) return 0;
    return a < b ? -1 : 1;
}

// Values of the eight-byte signed family: INT64, VINT64, FIXEDPOINTn.
bool is_int64_like(int type) {
    return type == TYPE_INT64 || type == TYPE_VINT64 || is_fixed_point(type);
}

// BOOL is read as a 4-byte integer by the value operations.
bool is_int32_like(int type) {
    return type == TYPE_INT32 || type == TYPE_VINT32 || type == TYPE_BOOL;
}

}  // namespace

bool FieldDesc::is_null(DataType type, const void* v) {
    if (is_int64_like(type)) return load_host<int64_t>(v) == INT64_MAX;
    if (is_int32_like(type)) return load_host<int32_t>(v) == INT32_MAX;
    switch (type) {
        case TYPE_UINT8:
            return load_host<uint8_t>(v) == UINT8_MAX;
        case TYPE_UINT16:
            return load_host<uint16_t>(v) == UINT16_MAX;
        case TYPE_UINT32:
            return load_host<uint32_t>(v) == UINT32_MAX;
        case TYPE_UINT64:
            return load_host<uint64_t>(v) == UINT64_MAX;
        case TYPE_INT8:
            return load_host<int8_t>(v) == INT8_MAX;
        case TYPE_INT16:
            return load_host<int16_t>(v) == INT16_MAX;
        case TYPE_FLOAT32:
            return load_host<float>(v) == FLT_MAX;
        case TYPE_FLOAT64:
            return load_host<double>(v) == DBL_MAX;
        case TYPE_CHAR:
        case TYPE_STRING:
            return *static_cast<const char*>(v) == '\0';
        default:
            return true;  // NULL and POINTER have no value to test
    }
}

void FieldDesc::set_null(DataType type, void* v) {
    if (is_int64_like(type)) return store_host<int64_t>(v, INT64_MAX);
    if (is_int32_like(type)) return store_host<int32_t>(v, INT32_MAX);
    switch (type) {
        case TYPE_UINT8:
            return store_host<uint8_t>(v, UINT8_MAX);
        case TYPE_UINT16:
            return store_host<uint16_t>(v, UINT16_MAX);
        case TYPE_UINT32:
            return store_host<uint32_t>(v, UINT32_MAX);
        case TYPE_UINT64:
            return store_host<uint64_t>(v, UINT64_MAX);
        case TYPE_INT8:
            return store_host<int8_t>(v, INT8_MAX);
        case TYPE_INT16:
            return store_host<int16_t>(v, INT16_MAX);
        case TYPE_FLOAT32:
            return store_host<float>(v, FLT_MAX);
        case TYPE_FLOAT64:
            return store_host<double>(v, DBL_MAX);
        case TYPE_CHAR:
        case TYPE_STRING:
            *static_cast<char*>(v) = '\0';
            return;
        default:
            return;
    }
}

bool FieldDesc::is_null(const void* record) const {
    for (int i = 0; i < member_count; ++i) {
        const MemberDesc& m = members[i];
        for (int e = 0; e < m.count; ++e) {
            if (!is_null(m.type,
                         static_cast<const char*>(record) + m.offset + e * m.element_size)) {
                return false;
            }
        }
    }
    return true;
}

void FieldDesc::set_null(void* record) const {
    for (int i = 0; i < member_count; ++i) {
        const MemberDesc& m = members[i];
        char* p = static_cast<char*>(record) + m.offset;
        if (m.type == TYPE_STRING) memset(p, 0, static_cast<size_t>(m.size));
        for (int e = 0; e < m.count; ++e) set_null(m.type, p + e * m.element_size);
    }
}

void FieldDesc::set_field(int index, void* record, const void* value) const {
    if (index < 0 || index >= member_count) return;
    const MemberDesc& m = members[index];
    char* p = static_cast<char*>(record) + m.offset;
    if (!value) {
        if (m.type == TYPE_STRING) memset(p, 0, static_cast<size_t>(m.element_size));
        set_null(m.type, p);
        return;
    }
    if (m.type == TYPE_STRING) {
        const char* text = static_cast<const char*>(value);
        int n = 0;
        while (n < m.element_size - 1 && text[n] != '\0') ++n;
        memcpy(p, text, static_cast<size_t>(n));
        memset(p + n, 0, static_cast<size_t>(m.element_size - n));
        return;
    }
    int n = m.type == TYPE_BOOL ? 4 : DATA_TYPE_SIZE[m.type];
    memcpy(p, value, static_cast<size_t>(n));
}

int FieldDesc::compare_member(DataType type, const void* a, const void* b, bool ascending) {
    int r = 0;
    if (is_int64_like(type)) {
        r = order(load_host<int64_t>(a), load_host<int64_t>(b));
    } else if (is_int32_like(type)) {
        r = order(load_host<int32_t>(a), load_host<int32_t>(b));
    } else {
        switch (type) {
            case TYPE_UINT8:
                r = order(load_host<uint8_t>(a), load_host<uint8_t>(b));
                break;
            case TYPE_UINT16:
                r = order(load_host<uint16_t>(a), load_host<uint16_t>(b));
                break;
            case TYPE_UINT32:
                r = order(load_host<uint32_t>(a), load_host<uint32_t>(b));
                break;
            case TYPE_UINT64:
                r = order(load_host<uint64_t>(a), load_host<uint64_t>(b));
                break;
            case TYPE_INT8:
            case TYPE_CHAR:
                r = order(load_host<int8_t>(a), load_host<int8_t>(b));
                break;
            case TYPE_INT16:
                r = order(load_host<int16_t>(a), load_host<int16_t>(b));
                break;
            case TYPE_FLOAT32:
                r = order_real(load_host<float>(a), load_host<float>(b), 1e-6);
                break;
            case TYPE_FLOAT64:
                r = order_real(load_host<double>(a), load_host<double>(b), 1e-9);
                break;
            case TYPE_STRING: {
                int c = strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
                r = c < 0 ? -1 : (c > 0 ? 1 : 0);
                break;
            }
            default:
                r = 0;
                break;
        }
    }
    return ascending ? r : -r;
}

bool FieldDesc::equal_member(DataType type, const void* a, const void* b) {
    if (type == TYPE_FLOAT32) {
        float x = load_host<float>(a), y = load_host<float>(b);
        return memcmp(&x, &y, sizeof x) == 0 || std::fabs(x - y) <= 1e-6;
    }
    if (type == TYPE_FLOAT64) {
        double x = load_host<double>(a), y = load_host<double>(b);
        return memcmp(&x, &y, sizeof x) == 0 || std::fabs(x - y) <= 1e-9;
    }
    if (type == TYPE_NULL || type == TYPE_POINTER) return true;
    return compare_member(type, a, b, true) == 0;
}

int FieldDesc::compare_key(const void* a, const void* b, bool ascending) const {
    for (int i = 0; i < member_count; ++i) {
        const MemberDesc& m = members[i];
        if (!m.is_key) continue;
        for (int e = 0; e < m.count; ++e) {
            int at = m.offset + e * m.element_size;
            int r = compare_member(m.type, static_cast<const char*>(a) + at,
                                   static_cast<const char*>(b) + at, ascending);
            if (r != 0) return r;
        }
    }
    return 0;
}

int FieldDesc::compare_key(void* desc, const void* a, const void* b) {
    return static_cast<const FieldDesc*>(desc)->compare_key(a, b, true);
}

bool FieldDesc::equal_field(const void* a, const void* b, int first, int last) const {
    if (first < 0) first = 0;
    if (last >= member_count) last = member_count - 1;
    for (int i = first; i <= last; ++i) {
        const MemberDesc& m = members[i];
        for (int e = 0; e < m.count; ++e) {
            int at = m.offset + e * m.element_size;
            if (!equal_member(m.type, static_cast<const char*>(a) + at,
                              static_cast<const char*>(b) + at)) {
                return false;
            }
        }
    }
    return true;
}

bool FieldDesc::equal_field(const void* a, const void* b) const {
    return equal_field(a, b, 0, member_count - 1);
}

bool FieldDesc::equal_key(const void* a, const void* b) const {
    for (int i = 0; i < member_count; ++i) {
        if (members[i].is_key && !equal_field(a, b, i, i)) return false;
    }
    return true;
}

bool FieldDesc::equal_key(void* desc, const void* a, const void* b) {
    return static_cast<const FieldDesc*>(desc)->equal_key(a, b);
}

unsigned int FieldDesc::hash_member(DataType type, const void* value, unsigned int seed) {
    int n = type == TYPE_STRING ? static_cast<int>(strlen(static_cast<const char*>(value)))
                                : DATA_TYPE_SIZE[type];
    return Hash::calc(value, n, seed);
}

unsigned int FieldDesc::hash_key(const void* record) const {
    unsigned int h = 0;
    for (int i = 0; i < member_count; ++i) {
        const MemberDesc& m = members[i];
        if (!m.is_key) continue;
        for (int e = 0; e < m.count; ++e) {
            h = hash_member(m.type,
                            static_cast<const char*>(record) + m.offset + e * m.element_size, h);
        }
    }
    return h;
}

unsigned int FieldDesc::hash_key(void* desc, const void* record) {
    return static_cast<const FieldDesc*>(desc)->hash_key(record);
}

}  // namespace Base

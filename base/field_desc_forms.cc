// CSV forms of records.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/byte_order.h"
#include "base/csv.h"
#include "base/field_desc.h"

namespace Base {

namespace {

template <typename T>
bool get_cell(const Csv* csv, int column, void* value) {
    T v{};
    bool ok = csv->get_data(column, v);
    memcpy(value, &v, sizeof v);
    return ok;
}

bool read_cell(const Csv* csv, int column, const FieldDesc::MemberDesc& m, char* p) {
    if (is_fixed_point(m.type)) {
        int64_t v = 0;
        bool ok = csv->get_data(column, v, m.type);
        memcpy(p, &v, sizeof v);
        return ok;
    }
    switch (m.type) {
        case TYPE_UINT8:
            return get_cell<uint8_t>(csv, column, p);
        case TYPE_UINT16:
            return get_cell<uint16_t>(csv, column, p);
        case TYPE_UINT32:
            return get_cell<uint32_t>(csv, column, p);
        case TYPE_UINT64:
            return get_cell<uint64_t>(csv, column, p);
        case TYPE_INT8:
            return get_cell<int8_t>(csv, column, p);
        case TYPE_INT16:
            return get_cell<int16_t>(csv, column, p);
        case TYPE_INT32:
        case TYPE_BOOL:
        case TYPE_VINT32:
            return get_cell<int32_t>(csv, column, p);
        case TYPE_INT64:
        case TYPE_VINT64:
            return get_cell<int64_t>(csv, column, p);
        case TYPE_FLOAT32:
            return get_cell<float>(csv, column, p);
        case TYPE_FLOAT64:
            return get_cell<double>(csv, column, p);
        case TYPE_CHAR:
            return get_cell<char>(csv, column, p);
        case TYPE_STRING: {
            const char* text = nullptr;
            bool ok = csv->get_data(column, text);
            FieldDesc::fill_member(TYPE_STRING, p, ok ? text : "", m.element_size);
            return ok;
        }
        default:
            return true;
    }
}

bool write_cell(Csv* csv, int column, const FieldDesc::MemberDesc& m, const char* p, bool exact) {
    if (is_fixed_point(m.type)) return csv->set_data(column, load_host<int64_t>(p), m.type);
    switch (m.type) {
        case TYPE_UINT8:
            return csv->set_data(column, load_host<uint8_t>(p));
        case TYPE_UINT16:
            return csv->set_data(column, load_host<uint16_t>(p));
        case TYPE_UINT32:
            return csv->set_data(column, load_host<uint32_t>(p));
        case TYPE_UINT64:
            return csv->set_data(column, load_host<uint64_t>(p));
        case TYPE_INT8:
            return csv->set_data(column, load_host<int8_t>(p));
        case TYPE_INT16:
            return csv->set_data(column, load_host<int16_t>(p));
        case TYPE_INT32:
        case TYPE_BOOL:
        case TYPE_VINT32:
            return csv->set_data(column, load_host<int32_t>(p));
        case TYPE_INT64:
        case TYPE_VINT64:
            return csv->set_data(column, load_host<int64_t>(p));
        case TYPE_FLOAT32:
            return csv->set_data(column, load_host<float>(p), exact);
        case TYPE_FLOAT64:
            return csv->set_data(column, load_host<double>(p), exact);
        case TYPE_CHAR:
            return csv->set_data(column, load_host<char>(p));
        case TYPE_STRING: {
            char local[512];
            int n = static_cast<int>(strnlen(p, static_cast<size_t>(m.element_size)));
            char* text =
                n < static_cast<int>(sizeof local) ? local : static_cast<char*>(malloc(n + 1u));
            if (!text) return false;
            memcpy(text, p, static_cast<size_t>(n));
            text[n] = '\0';
            bool ok = csv->set_data(column, static_cast<const char*>(text));
            if (text != local) free(text);
            return ok;
        }
        default:
            return true;
    }
}

}  // namespace

bool FieldDesc::from_csv(const Csv* csv, void* record, char* buffer) const {
    (void)buffer;  // cells are read in place
    bool ok = true;
    for (int i = 0; i < member_count; ++i) {
        const MemberDesc& m = members[i];
        char* p = static_cast<char*>(record) + m.offset;
        int column = csv->get_head_index(m.name);
        if (column < 0) {
            memset(p, 0, static_cast<size_t>(m.size));
            continue;
        }
        if (!read_cell(csv, column, m, p)) ok = false;
    }
    return ok;
}

bool FieldDesc::to_csv(Csv* csv, const void* record, bool exact) const {
    bool ok = true;
    for (int i = 0; i < member_count; ++i) {
        const MemberDesc& m = members[i];
        if (!write_cell(csv, i, m, static_cast<const char*>(record) + m.offset, exact)) ok = false;
    }
    return ok;
}

}  // namespace Base

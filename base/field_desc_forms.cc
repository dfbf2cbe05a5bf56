// CSV and JSON forms of records.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/byte_order.h"
#include "base/csv.h"
#include "base/field_desc.h"
#include "base/json.h"

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

// A member's printed text in a buffer that fits it; free with release().
char* member_text(const FieldDesc::MemberDesc& m, const char* p, char* hexbuf, char* local,
                  int local_size) {
    int n = FieldDesc::print_member(nullptr, m.type, p, false, m.element_size, false, hexbuf);
    char* text = n < local_size ? local : static_cast<char*>(malloc(n + 1u));
    if (text) FieldDesc::print_member(text, m.type, p, false, m.element_size, false, hexbuf);
    return text;
}

void release(char* text, char* local) {
    if (text != local) free(text);
}

// JSON string escapes for backspace, tab, newline, form feed, carriage
// return, quote, slash and backslash.
int escape(char* out, const char* text) {
    int used = 0;
    for (const char* c = text; *c; ++c) {
        const char* pair = nullptr;
        switch (*c) {
            case '\b':
                pair = "\\b";
                break;
            case '\t':
                pair = "\\t";
                break;
            case '\n':
                pair = "\\n";
                break;
            case '\f':
                pair = "\\f";
                break;
            case '\r':
                pair = "\\r";
                break;
            case '"':
                pair = "\\\"";
                break;
            case '/':
                pair = "\\/";
                break;
            case '\\':
                pair = "\\\\";
                break;
            default:
                break;
        }
        if (pair) {
            out[used++] = pair[0];
            out[used++] = pair[1];
        } else {
            out[used++] = *c;
        }
    }
    out[used] = '\0';
    return used;
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

bool FieldDesc::from_json(const Json::Object* object, void* record) const {
    int n = object->get_size();
    for (int i = 0; i < n; ++i) {
        const Json::Property* property = object->get_property(i);
        const char* text = property->get_value()->get_string();
        int index = get_member_index(property->get_name());
        if (!text || index < 0) return false;
        const MemberDesc& m = members[index];
        fill_member(m.type, static_cast<char*>(record) + m.offset, text, m.element_size);
    }
    return true;
}

bool FieldDesc::to_json(Json::Object* object, const void* record, char* hexbuf) const {
    for (int i = 0; i < member_count; ++i) {
        const MemberDesc& m = members[i];
        char local[512];
        char* text = member_text(m, static_cast<const char*>(record) + m.offset, hexbuf, local,
                                 sizeof local);
        if (!text) return false;
        bool ok = object->add_string(m.name, text) != nullptr;
        release(text, local);
        if (!ok) return false;
    }
    return true;
}

int FieldDesc::to_json(FILE* file, const void* record, char* buffer, char* escbuf,
                       bool exact) const {
    (void)buffer;  // each value is printed into a buffer sized for it
    char hexbuf[40];
    int written = fputs("{", file) < 0 ? -1 : 1;
    for (int i = 0; i < member_count && written >= 0; ++i) {
        const MemberDesc& m = members[i];
        char local[512];
        char* text = member_text(m, static_cast<const char*>(record) + m.offset,
                                 exact ? hexbuf : nullptr, local, sizeof local);
        if (!text) return -1;
        size_t size = strlen(text) * 2 + 1;
        char* escaped = escbuf && size <= sizeof local ? escbuf : static_cast<char*>(malloc(size));
        if (!escaped) {
            release(text, local);
            return -1;
        }
        escape(escaped, text);
        int n = fprintf(file, "%s\"%s\":\"%s\"", i > 0 ? "," : "", m.name, escaped);
        if (escaped != escbuf) free(escaped);
        release(text, local);
        written = n < 0 ? -1 : written + n;
    }
    if (written >= 0) written = fputs("}", file) < 0 ? -1 : written + 1;
    return written;
}

}  // namespace Base

// Text forms of record members: parsing, printing and writing.
#include <cfloat>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/byte_order.h"
#include "base/field_desc.h"

namespace Base {

namespace {

// Appends formatted text at out + used (out may be null: only counts).
int emit(char* out, int used, const char* format, ...) __attribute__((format(printf, 3, 4)));
int emit(char* out, int used, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = out ? vsprintf(out + used, format, args) : vsnprintf(nullptr, 0, format, args);
    va_end(args);
    return n < 0 ? 0 : n;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Raw bytes in memory order from the hex digits after an at sign.
bool fill_hex(void* value, const char* hex, int bytes) {
    unsigned char raw[8];
    for (int i = 0; i < bytes; ++i) {
        int hi = hex_digit(hex[2 * i]);
        int lo = hi < 0 ? -1 : hex_digit(hex[2 * i + 1]);
        if (lo < 0) return false;
        raw[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    memcpy(value, raw, static_cast<size_t>(bytes));
    return true;
}

template <typename T>
bool scan(void* value, const char* text, const char* format) {
    T v{};
    bool ok = sscanf(text, format, &v) == 1;
    memcpy(value, &v, sizeof v);
    return ok;
}

bool fill_fixed(void* value, const char* text, int digits) {
    double d = 0;
    if (sscanf(text, "%lf", &d) != 1) {
        FieldDesc::set_null(static_cast<DataType>(TYPE_FIXEDPOINT0 + digits), value);
        return false;
    }
    int64_t v = INT64_MAX;
    if (d != DBL_MAX) {
        double x = (d >= 0 ? d + 1e-9 : d - 1e-9) * FIXED_POINT_POWER[digits];
        if (x > -9.2e18 && x < 9.2e18) v = static_cast<int64_t>(x);
    }
    memcpy(value, &v, sizeof v);
    return true;
}

// Length of a string member's text, bounded by its width when known.
int text_length(const char* text, int width) {
    return static_cast<int>(width > 0 ? strnlen(text, static_cast<size_t>(width)) : strlen(text));
}

int print_text(char* out, const char* text, bool quoted, int width, bool pad) {
    int n = text_length(text, width);
    if (quoted && memchr(text, '"', static_cast<size_t>(n))) {
        int used = 0;
        for (int i = 0; i < n; ++i) {
            if (out) out[used] = text[i];
            ++used;
            if (text[i] == '"') {
                if (out) out[used] = '"';
                ++used;
            }
        }
        if (out) out[used] = '\0';
        return used;
    }
    if (pad) return emit(out, 0, "%-*.*s", width > 0 ? width - 1 : 0, n, text);
    return emit(out, 0, "%.*s", n, text);
}

// The raw bytes of a float or double after an at sign, upper-case hex.
int print_hex(char* out, int used, const void* value, int bytes, char* hexbuf) {
    static const char digits[] = "0123456789ABCDEF";
    const unsigned char* raw = static_cast<const unsigned char*>(value);
    hexbuf[0] = '@';
    for (int i = 0; i < bytes; ++i) {
        hexbuf[1 + 2 * i] = digits[raw[i] >> 4];
        hexbuf[2 + 2 * i] = digits[raw[i] & 15];
    }
    hexbuf[1 + 2 * bytes] = '\0';
    return emit(out, used, "%s", hexbuf);
}

}  // namespace

bool FieldDesc::fill_member(DataType type, void* value, const char* text, int size) {
    if (type == TYPE_STRING) {
        int n = text ? static_cast<int>(strnlen(text, static_cast<size_t>(size > 0 ? size - 1 : 0)))
                     : 0;
        if (n > 0) memcpy(value, text, static_cast<size_t>(n));
        if (size > n) memset(static_cast<char*>(value) + n, 0, static_cast<size_t>(size - n));
        return true;
    }
    if (type == TYPE_CHAR) {
        *static_cast<char*>(value) = text ? text[0] : '\0';
        return true;
    }
    if (!text || text[0] == '\0') {
        set_null(type, value);
        return true;
    }
    if (is_fixed_point(type)) return fill_fixed(value, text, fixed_point_digits(type));
    if (type == TYPE_FLOAT32 || type == TYPE_FLOAT64) {
        int bytes = type == TYPE_FLOAT32 ? 4 : 8;
        const char* at = strchr(text, '@');
        if (at) return fill_hex(value, at + 1, bytes);
        return bytes == 4 ? scan<float>(value, text, "%f") : scan<double>(value, text, "%lf");
    }
    switch (type) {
        case TYPE_UINT8:
            return scan<unsigned char>(value, text, "%hhu");
        case TYPE_UINT16:
            return scan<unsigned short>(value, text, "%hu");
        case TYPE_UINT32:
            return scan<unsigned int>(value, text, "%u");
        case TYPE_UINT64:
            return scan<unsigned long long>(value, text, "%llu");
        case TYPE_INT8:
            return scan<signed char>(value, text, "%hhd");
        case TYPE_INT16:
            return scan<short>(value, text, "%hd");
        case TYPE_INT32:
        case TYPE_BOOL:
        case TYPE_VINT32:
            return scan<int>(value, text, "%d");
        case TYPE_INT64:
        case TYPE_VINT64:
            return scan<long long>(value, text, "%lld");
        default:
            return false;
    }
}

int FieldDesc::print_member(char* out, DataType type, const void* v, bool quoted, int width,
                            bool pad, char* hexbuf) {
    if (type == TYPE_NULL || type == TYPE_POINTER || is_null(type, v)) {
        if (out) out[0] = '\0';
        return 0;
    }
    if (is_fixed_point(type)) {
        int n = fixed_point_digits(type);
        double d = static_cast<double>(load_host<int64_t>(v));
        if (n > 0) d *= FIXED_POINT_INVERSE[n];
        return emit(out, 0, FIXED_POINT_FORMAT[n], d);
    }
    switch (type) {
        case TYPE_UINT8:
            return emit(out, 0, "%hhu", load_host<unsigned char>(v));
        case TYPE_UINT16:
            return emit(out, 0, "%hu", load_host<unsigned short>(v));
        case TYPE_UINT32:
            return emit(out, 0, "%u", load_host<unsigned int>(v));
        case TYPE_UINT64:
            return emit(out, 0, "%llu", load_host<unsigned long long>(v));
        case TYPE_INT8:
            return emit(out, 0, "%hhd", load_host<signed char>(v));
        case TYPE_INT16:
            return emit(out, 0, "%hd", load_host<short>(v));
        case TYPE_INT32:
        case TYPE_BOOL:
        case TYPE_VINT32:
            return emit(out, 0, "%d", load_host<int>(v));
        case TYPE_INT64:
        case TYPE_VINT64:
            return emit(out, 0, "%lld", load_host<long long>(v));
        case TYPE_CHAR:
            return emit(out, 0, "%c", load_host<char>(v));
        case TYPE_STRING:
            return print_text(out, static_cast<const char*>(v), quoted, width, pad);
        case TYPE_FLOAT32: {
            int n = emit(out, 0, "%.8f", static_cast<double>(load_host<float>(v)));
            return hexbuf ? n + print_hex(out, n, v, 4, hexbuf) : n;
        }
        case TYPE_FLOAT64: {
            int n = emit(out, 0, "%.15lf", load_host<double>(v));
            return hexbuf ? n + print_hex(out, n, v, 8, hexbuf) : n;
        }
        default:
            return 0;
    }
}

int FieldDesc::print_field(char* out, const void* record, bool quoted, bool pad, bool named,
                           char* hexbuf) const {
    int used = 0;
    for (int i = 0; i < member_count; ++i) {
        const MemberDesc& m = members[i];
        for (int e = 0; e < m.count; ++e) {
            bool first = i == 0 && e == 0;
            if (named) {
                used += emit(out, used, first ? "%s=" : " %s=", m.name);
            } else if (!first) {
                used += emit(out, used, ",");
            }
            if (quoted) used += emit(out, used, "\"");
            const char* value = static_cast<const char*>(record) + m.offset + e * m.element_size;
            used += print_member(out ? out + used : nullptr, m.type, value, quoted, m.element_size,
                                 pad, hexbuf);
            if (quoted) used += emit(out, used, "\"");
        }
    }
    if (out) out[used] = '\0';
    return used;
}

void FieldDesc::write_member(DataType type, const void* value, bool quoted, FILE* file, int width,
                             bool pad, char* hexbuf) {
    char local[512];
    int n = print_member(nullptr, type, value, quoted, width, pad, hexbuf);
    char* text = n < static_cast<int>(sizeof local) ? local : static_cast<char*>(malloc(n + 1u));
    if (!text) return;
    print_member(text, type, value, quoted, width, pad, hexbuf);
    fwrite(text, 1, static_cast<size_t>(n), file);
    if (text != local) free(text);
}

void FieldDesc::write_field(const void* record, bool quoted, FILE* file, bool pad, bool named,
                            char* hexbuf) const {
    char local[4096];
    int n = print_field(nullptr, record, quoted, pad, named, hexbuf);
    char* text = n < static_cast<int>(sizeof local) ? local : static_cast<char*>(malloc(n + 1u));
    if (!text) return;
    print_field(text, record, quoted, pad, named, hexbuf);
    fwrite(text, 1, static_cast<size_t>(n), file);
    if (text != local) free(text);
}

void FieldDesc::write_head(bool quoted, FILE* file) const {
    for (int i = 0; i < member_count; ++i) {
        if (i > 0) fputc(',', file);
        fprintf(file, quoted ? "\"%s\"" : "%s", members[i].name);
    }
}

}  // namespace Base

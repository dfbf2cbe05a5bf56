#include "base/csv.h"

#include <errno.h>
#include <float.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

#include "base/hex.h"

namespace Base {

namespace {

constexpr char AT_SIGN = '@';

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool parse_signed(const char* text, int64_t& value) {
    if (!text[0]) return false;
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0') return false;
    value = v;
    return true;
}

bool parse_unsigned(const char* text, uint64_t& value) {
    const char* p = text;
    while (is_blank(*p)) ++p;
    // strtoull would accept "-1" as the largest value.
    if (!*p || *p == '-') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(p, &end, 10);
    if (errno != 0 || *end != '\0') return false;
    value = v;
    return true;
}

// The raw bytes after an at sign; exactly 2 * bytes hexadecimal digits.
bool parse_exact(const char* at, void* raw, int bytes) {
    if (strlen(at + 1) != static_cast<size_t>(2 * bytes)) return false;
    return hex_to_bytes(at + 1, static_cast<char*>(raw), bytes) != nullptr;
}

bool parse_double(const char* text, double& value) {
    if (!text[0]) return false;
    char* end = nullptr;
    double v = strtod(text, &end);
    if (*end != '\0') return false;
    value = v;
    return true;
}

}  // namespace

Csv::Csv(bool quote, int field_size)
    : quote_(quote),
      field_size_(field_size < 2 ? 2 : field_size),
      head_index_(Map::hash_string, Map::equal_string, 64, HEAD_SIZE, sizeof(int), 64, 1, nullptr) {
    for (int t = 0; t < TYPE_COUNT; ++t) null_enabled_[t] = true;
    null_enabled_[TYPE_UINT16] = false;
    null_enabled_[TYPE_UINT32] = false;
    null_enabled_[TYPE_INT16] = false;
    null_enabled_[TYPE_INT32] = false;
}

Csv::~Csv() {
    free(heads_);
    free(cells_);
    free(line_);
    free(split_buffer_);
    free(fields_);
}

void Csv::enable_null(DataType type, bool enable) {
    if (type >= 0 && type < TYPE_COUNT) null_enabled_[type] = enable;
}

bool Csv::reserve(int columns) {
    if (columns <= capacity_) return true;
    int capacity = capacity_ ? capacity_ : 16;
    while (capacity < columns) capacity *= 2;
    void* heads = realloc(heads_, static_cast<size_t>(capacity) * HEAD_SIZE);
    if (!heads) return false;
    heads_ = static_cast<char(*)[HEAD_SIZE]>(heads);
    void* cells = realloc(cells_, static_cast<size_t>(capacity) * field_size_);
    if (!cells) return false;
    cells_ = static_cast<char*>(cells);
    capacity_ = capacity;
    return true;
}

int Csv::add_head(const char* name) {
    if (cell_count_ != head_count_ || strlen(name) >= HEAD_SIZE) return -1;
    if (!reserve(head_count_ + 1)) return -1;
    strcpy(heads_[head_count_], name);
    index_head(head_count_);
    cell(cell_count_)[0] = '\0';
    ++cell_count_;
    return head_count_++;
}

void Csv::index_head(int index) {
    if (!head_index_.search(heads_[index])) head_index_.insert(heads_[index], &index);
}

int Csv::get_head_index(const char* name) const {
    // Longer names were never stored, and the key copy is HEAD_SIZE bytes.
    if (strlen(name) >= HEAD_SIZE) return -1;
    const int* index = static_cast<const int*>(head_index_.search(name));
    return index ? *index : -1;
}

const char* Csv::get_head(int index) const {
    return index >= 0 && index < head_count_ ? heads_[index] : nullptr;
}

void Csv::clear_data() {
    for (int i = 0; i < cell_count_; ++i) cell(i)[0] = '\0';
}

bool Csv::put_text(int index, const char* text) {
    if (index < 0 || index >= cell_count_) return false;
    size_t n = strlen(text);
    if (n >= static_cast<size_t>(field_size_)) return false;
    memcpy(cell(index), text, n + 1);
    return true;
}

bool Csv::put_formatted(int index, const char* format, ...) {
    if (index < 0 || index >= cell_count_) return false;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(cell(index), static_cast<size_t>(field_size_), format, args);
    va_end(args);
    if (n >= 0 && n < field_size_) return true;
    cell(index)[0] = '\0';  // never leave a cut-off number behind
    return false;
}

bool Csv::set_data(int index, char value) {
    char text[2] = {value, '\0'};
    return put_text(index, text);
}

bool Csv::set_data(int index, const char* value) {
    return put_text(index, value ? value : "");
}

#define XELMD_CSV_SET_INT(T, TYPE, NULL_VALUE, FORMAT, CAST)                          \
    bool Csv::set_data(int index, T value) {                                          \
        if (null_enabled_[TYPE] && value == (NULL_VALUE)) return put_text(index, ""); \
        return put_formatted(index, FORMAT, static_cast<CAST>(value));                \
    }

XELMD_CSV_SET_INT(int8_t, TYPE_INT8, INT8_MAX, "%d", int)
XELMD_CSV_SET_INT(uint8_t, TYPE_UINT8, UINT8_MAX, "%u", unsigned)
XELMD_CSV_SET_INT(int16_t, TYPE_INT16, INT16_MAX, "%d", int)
XELMD_CSV_SET_INT(uint16_t, TYPE_UINT16, UINT16_MAX, "%u", unsigned)
XELMD_CSV_SET_INT(int32_t, TYPE_INT32, INT32_MAX, "%d", int)
XELMD_CSV_SET_INT(uint32_t, TYPE_UINT32, UINT32_MAX, "%u", unsigned)
XELMD_CSV_SET_INT(int64_t, TYPE_INT64, INT64_MAX, "%lld", long long)
XELMD_CSV_SET_INT(uint64_t, TYPE_UINT64, UINT64_MAX, "%llu", unsigned long long)
#undef XELMD_CSV_SET_INT

bool Csv::put_float(int index, double value, const void* raw, int bytes, bool exact,
                    bool is_float) {
    if (!(is_float ? put_formatted(index, "%.8f", value) : put_formatted(index, "%.15lf", value)))
        return false;
    if (!exact) return true;
    char* text = cell(index);
    size_t n = strlen(text);
    if (n + 1 + 2 * bytes >= static_cast<size_t>(field_size_)) {
        text[0] = '\0';
        return false;
    }
    text[n] = AT_SIGN;
    hex_from_bytes(text + n + 1, static_cast<const char*>(raw), bytes, true);
    text[n + 1 + 2 * bytes] = '\0';
    return true;
}

bool Csv::set_data(int index, float value, bool exact) {
    if (null_enabled_[TYPE_FLOAT32] && value == FLT_MAX) return put_text(index, "");
    return put_float(index, value, &value, sizeof value, exact, true);
}

bool Csv::set_data(int index, double value, bool exact) {
    if (null_enabled_[TYPE_FLOAT64] && value == DBL_MAX) return put_text(index, "");
    return put_float(index, value, &value, sizeof value, exact, false);
}

bool Csv::set_data(int index, int64_t value, DataType fixed_type) {
    if (!is_fixed_point(fixed_type)) return false;
    if (null_enabled_[fixed_type] && value == INT64_MAX) return put_text(index, "");
    int digits = fixed_point_digits(fixed_type);
    // Integer arithmetic keeps every digit, which a double would not.
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : value;
    uint64_t scale = static_cast<uint64_t>(FIXED_POINT_POWER[digits]);
    const char* sign = value < 0 ? "-" : "";
    if (digits == 0)
        return put_formatted(index, "%s%llu", sign, static_cast<unsigned long long>(magnitude));
    return put_formatted(index, "%s%llu.%0*llu", sign,
                         static_cast<unsigned long long>(magnitude / scale), digits,
                         static_cast<unsigned long long>(magnitude % scale));
}

const char* Csv::read_cell(int index, DataType type, bool* is_null) const {
    *is_null = false;
    if (index < 0 || index >= cell_count_) return nullptr;
    const char* text = cell(index);
    if (text[0] == '\0' && null_enabled_[type]) *is_null = true;
    return text;
}

bool Csv::get_data(int index, char& value) const {
    value = '\0';
    if (index < 0 || index >= cell_count_) return false;
    value = cell(index)[0];
    return true;
}

bool Csv::get_data(int index, const char*& value) const {
    value = nullptr;
    if (index < 0 || index >= cell_count_) return false;
    value = cell(index);
    return true;
}

bool Csv::get_signed(int index, DataType type, int64_t low, int64_t high, int64_t& value) const {
    value = 0;
    bool is_null;
    const char* text = read_cell(index, type, &is_null);
    if (!text) return false;
    if (is_null) {
        value = high;
        return true;
    }
    int64_t v;
    if (!parse_signed(text, v) || v < low || v > high) return false;
    value = v;
    return true;
}

bool Csv::get_unsigned(int index, DataType type, uint64_t high, uint64_t& value) const {
    value = 0;
    bool is_null;
    const char* text = read_cell(index, type, &is_null);
    if (!text) return false;
    if (is_null) {
        value = high;
        return true;
    }
    uint64_t v;
    if (!parse_unsigned(text, v) || v > high) return false;
    value = v;
    return true;
}

#define XELMD_CSV_GET_SIGNED(T, TYPE, LOW, HIGH)         \
    bool Csv::get_data(int index, T& value) const {      \
        int64_t v;                                       \
        bool ok = get_signed(index, TYPE, LOW, HIGH, v); \
        value = static_cast<T>(v);                       \
        return ok;                                       \
    }
#define XELMD_CSV_GET_UNSIGNED(T, TYPE, HIGH)         \
    bool Csv::get_data(int index, T& value) const {   \
        uint64_t v;                                   \
        bool ok = get_unsigned(index, TYPE, HIGH, v); \
        value = static_cast<T>(v);                    \
        return ok;                                    \
    }

XELMD_CSV_GET_SIGNED(int8_t, TYPE_INT8, INT8_MIN, INT8_MAX)
XELMD_CSV_GET_SIGNED(int16_t, TYPE_INT16, INT16_MIN, INT16_MAX)
XELMD_CSV_GET_SIGNED(int32_t, TYPE_INT32, INT32_MIN, INT32_MAX)
XELMD_CSV_GET_SIGNED(int64_t, TYPE_INT64, INT64_MIN, INT64_MAX)
XELMD_CSV_GET_UNSIGNED(uint8_t, TYPE_UINT8, UINT8_MAX)
XELMD_CSV_GET_UNSIGNED(uint16_t, TYPE_UINT16, UINT16_MAX)
XELMD_CSV_GET_UNSIGNED(uint32_t, TYPE_UINT32, UINT32_MAX)
XELMD_CSV_GET_UNSIGNED(uint64_t, TYPE_UINT64, UINT64_MAX)
#undef XELMD_CSV_GET_SIGNED
#undef XELMD_CSV_GET_UNSIGNED

bool Csv::get_data(int index, float& value) const {
    value = 0;
    bool is_null;
    const char* text = read_cell(index, TYPE_FLOAT32, &is_null);
    if (!text) return false;
    if (is_null) {
        value = FLT_MAX;
        return true;
    }
    if (const char* at = strchr(text, AT_SIGN)) return parse_exact(at, &value, sizeof value);
    double v;
    if (!parse_double(text, v)) return false;
    value = static_cast<float>(v);
    return true;
}

bool Csv::get_data(int index, double& value) const {
    value = 0;
    bool is_null;
    const char* text = read_cell(index, TYPE_FLOAT64, &is_null);
    if (!text) return false;
    if (is_null) {
        value = DBL_MAX;
        return true;
    }
    if (const char* at = strchr(text, AT_SIGN)) return parse_exact(at, &value, sizeof value);
    return parse_double(text, value);
}

bool Csv::get_data(int index, int64_t& value, DataType fixed_type) const {
    value = 0;
    if (!is_fixed_point(fixed_type)) return false;
    bool is_null;
    const char* text = read_cell(index, fixed_type, &is_null);
    if (!text) return false;
    if (is_null) {
        value = INT64_MAX;
        return true;
    }
    double v;
    if (!parse_double(text, v)) return false;
    // Decimal text rarely has an exact binary value; nudging away from zero
    // before truncating keeps 0.29 from becoming 28 hundredths.
    v += v < 0 ? -1e-9 : 1e-9;
    v *= FIXED_POINT_POWER[fixed_point_digits(fixed_type)];
    if (!(v > -9.2233720368547758e18 && v < 9.2233720368547758e18)) return false;
    value = static_cast<int64_t>(v);
    return true;
}

bool Csv::write_row(FILE* file, const char* base, int count, int stride) const {
    for (int i = 0; i < count; ++i) {
        const char* text = base + static_cast<long>(i) * stride;
        if (i > 0 && fputc(',', file) == EOF) return false;
        if (!quote_) {
            if (fputs(text, file) == EOF) return false;
            continue;
        }
        if (fputc('"', file) == EOF) return false;
        for (const char* p = text; *p; ++p) {
            if (*p == '"' && fputc('"', file) == EOF) return false;
            if (fputc(*p, file) == EOF) return false;
        }
        if (fputc('"', file) == EOF) return false;
    }
    return fputc('\n', file) != EOF;
}

bool Csv::write_head(FILE* file) const {
    return write_row(file, heads_ ? heads_[0] : "", head_count_, HEAD_SIZE);
}

bool Csv::write_data(FILE* file) const {
    return write_row(file, cells_ ? cells_ : "", cell_count_, field_size_);
}

bool Csv::read_line(FILE* file) {
    ssize_t n = getline(&line_, &line_capacity_, file);
    if (n < 0) return false;
    while (n > 0 && (line_[n - 1] == '\n' || line_[n - 1] == '\r')) line_[--n] = '\0';
    return true;
}

int Csv::split_line(const char* line) {
    size_t length = strlen(line);
    if (length + 1 > scratch_capacity_) {
        size_t capacity = length + 1 < 256 ? 256 : length + 1;
        char* buffer = static_cast<char*>(malloc(capacity));
        // A field takes at least one character of the line or its end.
        char** fields = static_cast<char**>(malloc(capacity * sizeof(char*)));
        if (!buffer || !fields) {
            free(buffer);
            free(fields);
            return -1;
        }
        free(split_buffer_);
        free(fields_);
        split_buffer_ = buffer;
        fields_ = fields;
        scratch_capacity_ = capacity;
    }
    return split(line, quote_, fields_, static_cast<int>(scratch_capacity_), split_buffer_);
}

bool Csv::read_head(const char* line) {
    int n = split_line(line);
    if (n < 0) return false;
    for (int i = 0; i < n; ++i)
        if (strlen(fields_[i]) >= HEAD_SIZE) return false;
    if (!reserve(n)) return false;
    head_index_.clear();
    for (int i = 0; i < n; ++i) {
        strcpy(heads_[i], fields_[i]);
        index_head(i);
        cell(i)[0] = '\0';
    }
    head_count_ = cell_count_ = n;
    return true;
}

bool Csv::read_data(const char* line) {
    int n = split_line(line);
    if (n < 0) return false;
    for (int i = 0; i < n; ++i)
        if (strlen(fields_[i]) >= static_cast<size_t>(field_size_)) return false;
    if (!reserve(n)) return false;
    for (int i = 0; i < n; ++i) strcpy(cell(i), fields_[i]);
    cell_count_ = n;
    return true;
}

bool Csv::read_head(FILE* file) {
    return read_line(file) && read_head(line_);
}

bool Csv::read_data(FILE* file) {
    return read_line(file) && read_data(line_);
}

int Csv::split(const char* line, bool quote, char** out, int max_fields, char* buffer) {
    int count = 0;
    char* w = buffer;
    const char* p = line;
    if (!quote) {
        for (;;) {
            if (count >= max_fields) return -1;
            out[count++] = w;
            while (*p && *p != ',') *w++ = *p++;
            *w++ = '\0';
            if (*p == '\0') return count;
            ++p;
        }
    }
    while (is_blank(*p)) ++p;
    if (*p == '\0') return 0;
    for (;;) {
        if (*p++ != '"' || count >= max_fields) return -1;
        out[count++] = w;
        for (;;) {
            if (*p == '\0') return -1;  // unterminated field
            if (*p == '"') {
                if (p[1] != '"') break;
                ++p;  // a doubled quote stands for one
            }
            *w++ = *p++;
        }
        ++p;
        *w++ = '\0';
        while (is_blank(*p)) ++p;
        if (*p == '\0') return count;
        if (*p++ != ',') return -1;
        while (is_blank(*p)) ++p;
    }
}

}  // namespace Base

#include "tools/record/depth_text.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/json.h"
#include "field/xelfield.h"

namespace Record {

const char* const DepthText::TOPIC_COLUMN = "Topic";
const char* const DepthText::SEQUENCE_COLUMN = "SequenceNo";

namespace {

// Wide enough for "%.15lf" of the largest finite double, which the
// descriptor's CSV writer produces before the exact text replaces it.
const int CELL_SIZE = 512;

void enable_nulls(Base::Csv& csv) {
    for (int t = 0; t < TYPE_COUNT; ++t) csv.enable_null(static_cast<DataType>(t), true);
}

struct PublicDepthDesc : Base::FieldDesc {
    PublicDepthDesc() : Base::FieldDesc(0, "CTarnXeloDepthMarketDataField") {
        const Base::FieldDesc& wire = Field::XelDepthMarketDataField::DESC;
        field_id = wire.field_id;
        for (int i = 0; i < wire.member_count; ++i) {
            const MemberDesc& m = wire.members[i];
            // The API hands fixed-point members to the application as doubles.
            DataType type = Base::is_fixed_point(m.type) ? TYPE_FLOAT64 : m.type;
            setup_member(type, m.size, m.element_size, m.count, m.offset, m.type_name, m.name,
                         m.is_key);
        }
        struct_size = wire.struct_size;
    }
};

// Whole decimal integer, nothing around it.
bool parse_int(const char* text, int& value) {
    if (text == nullptr || text[0] == '\0') return false;
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (*end != '\0' || v < -2147483648L || v > 2147483647L) return false;
    value = static_cast<int>(v);
    return true;
}

// Writes text (up to size bytes or a NUL, as the descriptor's text ends)
// JSON-quoted at p, which has room for 2 + 6 * size bytes; returns the end.
char* put_json_string(char* p, const char* text, size_t size) {
    static const char HEX[] = "0123456789abcdef";
    *p++ = '"';
    for (size_t i = 0; i < size && text[i] != '\0'; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            *p++ = '\\';
            *p++ = static_cast<char>(c);
        } else if (c < 0x20) {
            memcpy(p, "\\u00", 4);
            p[4] = HEX[c >> 4];
            p[5] = HEX[c & 15];
            p += 6;
        } else {
            *p++ = static_cast<char>(c);
        }
    }
    *p++ = '"';
    return p;
}

// A CSV cell without quoting cannot hold these; they become blanks.
void blank_separators(char* text) {
    for (char* p = text; *p; ++p)
        if (*p == ',' || *p == '\n' || *p == '\r') *p = ' ';
}

// "%.15g" text of a value whose shortest round-trip form has at most 15
// significant digits: then rounding to 15 digits gives those digits back
// (they lie within half a unit in the last place, far inside half a unit of
// the 15th digit), so the text is those digits laid out as %g lays them out.
// shortest is std::to_chars' scientific form, e.g. "-4.1236e+03".
int g15_from_shortest(const char* shortest, const char* end, char* out) {
    const char* p = shortest;
    char* o = out;
    if (*p == '-') *o++ = *p++;
    char digits[20];
    int n = 0;
    for (; p < end && *p != 'e'; ++p)
        if (*p != '.') digits[n++] = *p;
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+'), end, exponent);
    if (exponent < -4 || exponent >= 15) {
        *o++ = digits[0];
        if (n > 1) *o++ = '.';
        for (int i = 1; i < n; ++i) *o++ = digits[i];
        *o++ = 'e';
        *o++ = exponent < 0 ? '-' : '+';
        int e = exponent < 0 ? -exponent : exponent;
        if (e >= 100) *o++ = static_cast<char>('0' + e / 100);
        *o++ = static_cast<char>('0' + e / 10 % 10);
        *o++ = static_cast<char>('0' + e % 10);
    } else if (exponent >= 0) {
        for (int i = 0; i <= exponent; ++i) *o++ = i < n ? digits[i] : '0';
        if (n > exponent + 1) *o++ = '.';
        for (int i = exponent + 1; i < n; ++i) *o++ = digits[i];
    } else {
        *o++ = '0';
        *o++ = '.';
        for (int i = -1; i > exponent; --i) *o++ = '0';
        for (int i = 0; i < n; ++i) *o++ = digits[i];
    }
    return static_cast<int>(o - out);
}

// Significant digits of a shortest form, plain or scientific (a plain
// form's leading zeros do not count, an integer's trailing zeros do).
int significant_digits(const char* shortest, const char* end) {
    int n = 0;
    for (const char* p = shortest; p < end && *p != 'e'; ++p)
        n += *p >= (n == 0 ? '1' : '0') && *p <= '9';
    return n;
}

bool put_text(const char* digits, int n, char* text, int size) {
    if (n >= size) return false;
    memcpy(text, digits, static_cast<size_t>(n));
    text[n] = '\0';
    return true;
}

}  // namespace

const Base::FieldDesc& DepthText::descriptor() {
    static const PublicDepthDesc desc;
    return desc;
}

DepthText::DepthText() : csv_(false, CELL_SIZE), reader_(false, CELL_SIZE) {
    enable_nulls(csv_);
    enable_nulls(reader_);
    const Base::FieldDesc& desc = descriptor();
    for (int i = 0; i < desc.member_count; ++i) csv_.add_head(desc.members[i].name);
    csv_.add_head(TOPIC_COLUMN);
    csv_.add_head(SEQUENCE_COLUMN);
    for (int i = 0; i < desc.member_count; ++i) {
        const char* name = desc.members[i].name;
        std::string key(3 + 6 * strlen(name), '\0');
        char* end = put_json_string(&key[0], name, strlen(name));
        key.resize(static_cast<size_t>(end - key.data()));
        json_keys_.push_back((i > 0 ? "," : "") + key + ":");
    }
}

// The common case (prices: at most 15 significant digits) comes from
// std::to_chars' shortest form; the others try %.15g..%.17g as before, with
// std::to_chars (which prints what printf's "%.*g" prints) and
// std::from_chars (which reads as strtod does), both without the locale and
// format parsing that made snprintf/strtod the JSON writer's main cost.
// Non-finite values, and texts beyond the range from_chars reports, keep the
// C library's own answer.
bool DepthText::exact_decimal(double value, char* text, int size) {
    if (!std::isfinite(value)) return libc_exact_decimal(value, text, size);
    char digits[40];
    int needed = 0;  // significant digits of the shortest form
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e-4 && magnitude < 1e15) {
        // Where %.15g prints plain decimals, its text is the shortest plain form.
        auto plain = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
        if (plain.ec != std::errc()) return libc_exact_decimal(value, text, size);
        needed = significant_digits(digits, plain.ptr);
        if (needed <= 15) return put_text(digits, static_cast<int>(plain.ptr - digits), text, size);
    } else {
        auto shortest =
            std::to_chars(digits, digits + sizeof digits, value, std::chars_format::scientific);
        if (shortest.ec != std::errc()) return libc_exact_decimal(value, text, size);
        needed = significant_digits(digits, shortest.ptr);
        // Subnormals have too few bits for the argument above.
        if (needed <= 15 && (value == 0 || magnitude >= DBL_MIN)) {
            char out[40];
            return put_text(out, g15_from_shortest(digits, shortest.ptr, out), text, size);
        }
    }
    // Fewer digits than the shortest form never read back. A small buffer
    // tries them all: one of them may already not fit.
    for (int precision = size >= 32 ? std::max(15, needed) : 15; precision <= 17; ++precision) {
        auto end = std::to_chars(digits, digits + sizeof digits - 1, value,
                                 std::chars_format::general, precision);
        const int n = static_cast<int>(end.ptr - digits);
        if (end.ec != std::errc() || n >= size) return false;
        double back = 0;
        auto read = std::from_chars(digits, end.ptr, back);
        if (read.ec == std::errc::result_out_of_range) {
            *end.ptr = '\0';
            back = strtod(digits, nullptr);
        } else if (read.ec != std::errc() || read.ptr != end.ptr) {
            return false;
        }
        if (memcmp(&back, &value, sizeof value) == 0) return put_text(digits, n, text, size);
    }
    return false;
}

bool DepthText::libc_exact_decimal(double value, char* text, int size) {
    for (int precision = 15; precision <= 17; ++precision) {
        int n = snprintf(text, static_cast<size_t>(size), "%.*g", precision, value);
        if (n <= 0 || n >= size) return false;
        double back = strtod(text, nullptr);
        if (memcmp(&back, &value, sizeof value) == 0) return true;
    }
    return false;
}

std::string DepthText::csv_head() const {
    std::string line;
    for (int i = 0; i < csv_.get_head_size(); ++i) {
        if (i > 0) line += ',';
        line += csv_.get_head(i);
    }
    line += '\n';
    return line;
}

bool DepthText::append(Format format, const DepthRow& row, std::string& out) {
    return format == Format::CSV ? append_csv(row, out) : append_json(row, out);
}

bool DepthText::append_csv(const DepthRow& row, std::string& out) {
    const Base::FieldDesc& desc = descriptor();
    csv_.clear_data();
    bool ok = desc.to_csv(&csv_, &row.depth, true);
    char text[64];
    for (int i = 0; i < desc.member_count; ++i) {
        const Base::FieldDesc::MemberDesc& m = desc.members[i];
        if (m.type != TYPE_FLOAT64) continue;
        double v;
        memcpy(&v, reinterpret_cast<const char*>(&row.depth) + m.offset, sizeof v);
        // Nulls stay empty; values no decimal carries keep the descriptor's
        // exact form (decimal, '@', raw bytes).
        if (v != DBL_MAX && exact_decimal(v, text, sizeof text) && !csv_.set_data(i, text))
            ok = false;
    }
    ok = csv_.set_data(desc.member_count, static_cast<int32_t>(row.topic)) && ok;
    ok = csv_.set_data(desc.member_count + 1, static_cast<int32_t>(row.sequence)) && ok;
    if (!ok) return false;
    for (int i = 0; i < csv_.get_data_size(); ++i) {
        const char* cell = nullptr;
        csv_.get_data(i, cell);
        if (i > 0) out += ',';
        char copy[CELL_SIZE];
        snprintf(copy, sizeof copy, "%s", cell ? cell : "");
        blank_separators(copy);
        out += copy;
    }
    out += '\n';
    return true;
}

// A member's text as the descriptor prints it (nulls empty), with doubles in
// their exact form; -1 when it does not fit. Doubles, 32-bit integers and
// strings, nearly every member, avoid the descriptor's printf.
int DepthText::member_text(const Base::FieldDesc::MemberDesc& m, const char* value, char* text,
                           int size) {
    if (m.type == TYPE_FLOAT64) {
        double v;
        memcpy(&v, value, sizeof v);
        if (v == DBL_MAX) return 0;
        if (exact_decimal(v, text, size)) return static_cast<int>(strlen(text));
    } else if (m.type == TYPE_INT32) {
        int32_t v;
        memcpy(&v, value, sizeof v);
        if (v == INT32_MAX) return 0;
        auto end = std::to_chars(text, text + size, v);
        return end.ec == std::errc() && end.ptr < text + size ? static_cast<int>(end.ptr - text)
                                                              : -1;
    } else if (m.type == TYPE_STRING && m.size > 0) {
        const int n = static_cast<int>(strnlen(value, static_cast<size_t>(m.size)));
        if (n >= size) return -1;
        memcpy(text, value, static_cast<size_t>(n));
        return n;
    }
    char hex[40];
    char* hexbuf = m.type == TYPE_FLOAT64 ? hex : nullptr;
    int n = Base::FieldDesc::print_member(nullptr, m.type, value, false, m.size, false, hexbuf);
    if (n < 0 || n >= size) return -1;
    return Base::FieldDesc::print_member(text, m.type, value, false, m.size, false, hexbuf);
}

// Written in place into out, grown ahead of each member to its worst case
// (every byte escaped), and cut to length at the end.
bool DepthText::append_json(const DepthRow& row, std::string& out) const {
    const Base::FieldDesc& desc = descriptor();
    char text[CELL_SIZE];
    size_t used = out.size();
    out.resize(used + 2048);
    out[used++] = '{';
    for (int i = 0; i < desc.member_count; ++i) {
        const Base::FieldDesc::MemberDesc& m = desc.members[i];
        const char* value = reinterpret_cast<const char*>(&row.depth) + m.offset;
        const int n = member_text(m, value, text, sizeof text);
        if (n < 0) {
            out.resize(used);
            return false;
        }
        const std::string& key = json_keys_[static_cast<size_t>(i)];
        const size_t need = used + key.size() + 2 + 6 * static_cast<size_t>(n) + 64;
        if (out.size() < need) out.resize(std::max(need, 2 * out.size()));
        char* p = &out[used];
        memcpy(p, key.data(), key.size());
        p = put_json_string(p + key.size(), text, static_cast<size_t>(n));
        used = static_cast<size_t>(p - out.data());
    }
    char* p = &out[used];
    for (int i = 0; i < 2; ++i) {
        const char* key = i == 0 ? ",\"Topic\":\"" : ",\"SequenceNo\":\"";
        const size_t length = strlen(key);
        memcpy(p, key, length);
        p = std::to_chars(p + length, p + 40, i == 0 ? row.topic : row.sequence).ptr;
        *p++ = '"';
    }
    memcpy(p, "}\n", 2);
    out.resize(static_cast<size_t>(p + 2 - out.data()));
    return true;
}

bool DepthText::read_csv_head(const char* line) {
    return reader_.read_head(line) && reader_.get_head_index(TOPIC_COLUMN) >= 0 &&
           reader_.get_head_index(SEQUENCE_COLUMN) >= 0;
}

bool DepthText::read_csv(const char* line, DepthRow& row) {
    if (!reader_.read_data(line) || reader_.get_data_size() != reader_.get_head_size())
        return false;
    memset(&row, 0, sizeof row);
    int32_t topic = 0, sequence = 0;
    bool ok = descriptor().from_csv(&reader_, &row.depth, nullptr);
    ok = reader_.get_data(reader_.get_head_index(TOPIC_COLUMN), topic) && ok;
    ok = reader_.get_data(reader_.get_head_index(SEQUENCE_COLUMN), sequence) && ok;
    row.topic = topic;
    row.sequence = sequence;
    return ok;
}

bool DepthText::read_json(const char* line, DepthRow& row) {
    Base::Json json;
    if (!json.parse(line, static_cast<int>(strlen(line))) || json.get_object_count() != 1)
        return false;
    const Base::Json::Object* object = json.get_object(0);
    const Base::FieldDesc& desc = descriptor();
    memset(&row, 0, sizeof row);
    bool topic = false, sequence = false;
    for (int i = 0; i < object->get_size(); ++i) {
        const Base::Json::Property* p = object->get_property(i);
        const char* text = p->get_value()->get_string();
        if (text == nullptr) return false;
        if (strcmp(p->get_name(), TOPIC_COLUMN) == 0) {
            topic = parse_int(text, row.topic);
            continue;
        }
        if (strcmp(p->get_name(), SEQUENCE_COLUMN) == 0) {
            sequence = parse_int(text, row.sequence);
            continue;
        }
        int index = desc.get_member_index(p->get_name());
        if (index < 0) return false;
        const Base::FieldDesc::MemberDesc& m = desc.members[index];
        Base::FieldDesc::fill_member(m.type, reinterpret_cast<char*>(&row.depth) + m.offset, text,
                                     m.element_size);
    }
    return topic && sequence;
}

}  // namespace Record

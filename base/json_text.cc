// Json text: the parser and the indented writer.
#include <stdlib.h>
#include <string.h>

#include "base/data_type.h"
#include "base/json.h"

namespace Base {

class Json::Parser {
  public:
    Parser(Json* json, const char* text, int length)
        : json_(json), p_(text), begin_(text), end_(text + (length > 0 ? length : 0)) {}

    // Top-level objects into out; false with error_offset() on failure.
    bool parse_document(Vector* out);
    int error_offset() const { return static_cast<int>(p_ - begin_); }

  private:
    void skip_space() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n')) ++p_;
    }
    bool take(char c) {
        skip_space();
        if (p_ < end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }
    bool parse_value(Value* value, int depth);
    bool parse_object(Object* object, int depth);
    bool parse_array(Value* array, int depth);
    bool parse_string(const char*& out);
    bool parse_number(Value* value);
    bool parse_word(const char* word);
    bool scan_string(unsigned long& length) const;

    Json* json_;
    const char* p_;
    const char* begin_;
    const char* end_;
};

bool Json::Parser::parse_document(Vector* out) {
    skip_space();
    if (p_ < end_ && *p_ == '[') {
        // One array whose items are the objects.
        ++p_;
        if (!take(']')) {
            do {
                if (!take('{')) return false;
                Object* o = json_->new_object();
                if (!parse_object(o, 1)) return false;
                out->set(out->get_count(), o);
            } while (take(','));
            if (!take(']')) return false;
        }
        skip_space();
        return p_ == end_;
    }
    while (skip_space(), p_ < end_) {
        if (*p_++ != '{') {
            --p_;
            return false;
        }
        Object* o = json_->new_object();
        if (!parse_object(o, 1)) return false;
        out->set(out->get_count(), o);
    }
    return true;
}

// After the '{'.
bool Json::Parser::parse_object(Object* object, int depth) {
    if (depth > MAX_DEPTH) return false;
    if (take('}')) return true;
    do {
        skip_space();
        const char* name;
        if (!parse_string(name)) return false;
        if (!take(':')) return false;
        Value* v = object->attach(name);
        if (!parse_value(v, depth)) return false;
    } while (take(','));
    return take('}');
}

// After the '['.
bool Json::Parser::parse_array(Value* array, int depth) {
    if (depth > MAX_DEPTH) return false;
    if (take(']')) return true;
    do {
        Value* v = array->push();
        if (!parse_value(v, depth)) return false;
    } while (take(','));
    return take(']');
}

bool Json::Parser::parse_value(Value* value, int depth) {
    skip_space();
    if (p_ >= end_) return false;
    switch (*p_) {
        case '{':
            ++p_;
            value->type_ = OBJECT;
            value->object_ = json_->new_object();
            return parse_object(value->object_, depth + 1);
        case '[':
            ++p_;
            value->type_ = ARRAY;
            value->array_ = json_->new_vector();
            return parse_array(value, depth + 1);
        case '"':
            value->type_ = STRING;
            return parse_string(value->string_);
        case 't':
            value->type_ = BOOLEAN;
            value->boolean_ = true;
            return parse_word("true");
        case 'f':
            value->type_ = BOOLEAN;
            value->boolean_ = false;
            return parse_word("false");
        case 'n':
            value->type_ = NULL_VALUE;
            return parse_word("null");
        default:
            return parse_number(value);
    }
}

bool Json::Parser::parse_word(const char* word) {
    size_t n = strlen(word);
    if (static_cast<size_t>(end_ - p_) < n || memcmp(p_, word, n) != 0) return false;
    p_ += n;
    return true;
}

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char simple_escape(char c) {
    switch (c) {
        case '"':
            return '"';
        case '/':
            return '/';
        case '\\':
            return '\\';
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        default:
            return 0;
    }
}

}  // namespace

// Bytes of the decoded string starting at p_ (on its '"'), or false when it
// is unterminated or holds a bad escape. Decoded text is never longer.
bool Json::Parser::scan_string(unsigned long& length) const {
    const char* p = p_ + 1;
    length = 0;
    while (p < end_ && *p != '"') {
        if (*p == '\0') return false;  // strings are C strings
        if (*p != '\\') {
            ++p;
            ++length;
            continue;
        }
        if (++p >= end_) return false;
        if (*p == 'u') {
            if (end_ - p < 5) return false;
            int v = 0;
            for (int i = 1; i <= 4; ++i) {
                int d = hex_digit(p[i]);
                if (d < 0) return false;
                v = v << 4 | d;
            }
            if (v == 0) return false;  // would cut the C string
            length += v > 0xff ? 2 : 1;
            p += 5;
            continue;
        }
        if (!simple_escape(*p)) return false;
        ++p;
        ++length;
    }
    return p < end_;
}

bool Json::Parser::parse_string(const char*& out) {
    unsigned long length;
    if (p_ >= end_ || *p_ != '"' || !scan_string(length)) return false;
    char* s = static_cast<char*>(json_->alloc(length + 1));
    char* w = s;
    ++p_;
    while (*p_ != '"') {
        if (*p_ != '\\') {
            *w++ = *p_++;
            continue;
        }
        ++p_;
        if (*p_ == 'u') {
            int v = 0;
            for (int i = 1; i <= 4; ++i) v = v << 4 | hex_digit(p_[i]);
            // The two bytes of the code, without a leading zero byte.
            if (v > 0xff) *w++ = static_cast<char>(v >> 8);
            *w++ = static_cast<char>(v & 0xff);
            p_ += 5;
        } else {
            *w++ = simple_escape(*p_++);
        }
    }
    ++p_;
    *w = '\0';
    out = s;
    return true;
}

bool Json::Parser::parse_number(Value* value) {
    bool negative = p_ < end_ && *p_ == '-';
    if (negative) ++p_;
    const char* digits = p_;
    while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
    long int_digits = p_ - digits;
    if (int_digits == 0) return false;
    const char* fraction = p_;
    long frac_digits = 0;
    if (p_ < end_ && *p_ == '.') {
        fraction = ++p_;
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
        frac_digits = p_ - fraction;
        if (frac_digits == 0) return false;
    }
    long exponent = 0;
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
        ++p_;
        bool exp_negative = p_ < end_ && *p_ == '-';
        if (p_ < end_ && (*p_ == '-' || *p_ == '+')) ++p_;
        const char* e = p_;
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
            // Beyond a few thousand the value is 0 or out of range anyway.
            if (exponent < 1000) exponent = exponent * 10 + (*p_ - '0');
            ++p_;
        }
        if (p_ == e) return false;
        if (exp_negative) exponent = -exponent;
    }
    // The decimal point sits point digits into the digit sequence.
    long total = int_digits + frac_digits;
    long point = int_digits + exponent;
    long decimals = total - point;
    if (decimals < 0) decimals = 0;
    if (decimals > MAX_DECIMALS) decimals = MAX_DECIMALS;
    uint64_t scaled = 0;
    const uint64_t limit = negative ? 0x8000000000000000ULL : 0x7fffffffffffffffULL;
    for (long i = 0; i < point + decimals; ++i) {
        int d = 0;
        if (i < int_digits)
            d = digits[i] - '0';
        else if (i < total)
            d = fraction[i - int_digits] - '0';
        if (scaled > (limit - d) / 10) return false;
        scaled = scaled * 10 + d;
    }
    value->type_ = NUMBER0 + static_cast<int>(decimals);
    value->number_ = negative ? static_cast<int64_t>(0 - scaled) : static_cast<int64_t>(scaled);
    return true;
}

// ---- parse entry points ----

bool Json::parse(const char* text, int length) {
    if (!text || length < 0) {
        error_offset_ = 0;
        return false;
    }
    Vector found(0, 64, 1, nullptr);
    Parser parser(this, text, length);
    if (!parser.parse_document(&found)) {
        error_offset_ = parser.error_offset();
        return false;
    }
    error_offset_ = -1;
    Vector::Iterator it(&found);
    while (void* o = it.next()) objects_.push(o);
    return true;
}

bool Json::parse_file(FILE* file) {
    if (!file) return false;
    // Whole file into one buffer: the parser works on a byte range.
    size_t capacity = 4096, length = 0;
    char* text = static_cast<char*>(malloc(capacity));
    while (text) {
        size_t n = fread(text + length, 1, capacity - length, file);
        length += n;
        if (length < capacity) break;
        if (capacity > 0x3fffffff) {  // beyond an int length
            free(text);
            return false;
        }
        char* grown = static_cast<char*>(realloc(text, capacity * 2));
        if (!grown) free(text);
        text = grown;
        capacity *= 2;
    }
    if (!text) return false;
    bool ok = !ferror(file) && parse(text, static_cast<int>(length));
    free(text);
    return ok;
}

bool Json::parse_file(const char* path) {
    FILE* file = fopen(path, "rbe");
    if (!file) return false;
    bool ok = parse_file(file);
    fclose(file);
    return ok;
}

bool Json::parse(const char* paths, bool must_exist) {
    if (!paths) return false;
    const char* p = paths;
    while (*p) {
        size_t n = strcspn(p, ",;");
        if (n > 0) {
            char path[4096];
            if (n >= sizeof path) return false;
            memcpy(path, p, n);
            path[n] = '\0';
            FILE* file = fopen(path, "rbe");
            if (!file) {
                if (must_exist) return false;
            } else {
                bool ok = parse_file(file);
                fclose(file);
                if (!ok) return false;
            }
        }
        p += n;
        if (*p) ++p;
    }
    return true;
}

// ---- output ----

// Text sink: a stream, a buffer, or nothing (measuring only).
class Json::Writer {
  public:
    Writer(FILE* file, char* buffer) : file_(file), buffer_(buffer) {}

    void put(const char* text, size_t n) {
        if (file_) {
            if (fwrite(text, 1, n, file_) != n) failed_ = true;
        } else if (buffer_) {
            memcpy(buffer_ + length_, text, n);
        }
        length_ += n;
    }
    void put(const char* text) { put(text, strlen(text)); }
    void put(char c) { put(&c, 1); }
    void tabs(int n) {
        for (int i = 0; i < n; ++i) put('\t');
    }
    void string(const char* s);
    void value(const Value* v, int indent);
    void object(const Object* o, int indent);
    void number(int64_t scaled, int decimals);

    int result() const { return failed_ ? -1 : static_cast<int>(length_); }

  private:
    FILE* file_;
    char* buffer_;
    size_t length_ = 0;
    bool failed_ = false;
};

void Json::Writer::string(const char* s) {
    put('"');
    for (; *s; ++s) {
        const char* escape = nullptr;
        switch (*s) {
            case '\b':
                escape = "\\b";
                break;
            case '\t':
                escape = "\\t";
                break;
            case '\n':
                escape = "\\n";
                break;
            case '\f':
                escape = "\\f";
                break;
            case '\r':
                escape = "\\r";
                break;
            case '"':
                escape = "\\\"";
                break;
            case '/':
                escape = "\\/";
                break;
            case '\\':
                escape = "\\\\";
                break;
            default:
                break;
        }
        if (escape)
            put(escape, 2);
        else
            put(*s);
    }
    put('"');
}

void Json::Writer::object(const Object* o, int indent) {
    put("{\n");
    int n = o->get_size();
    for (int i = 0; i < n; ++i) {
        const Property* p = o->get_property(i);
        tabs(indent + 1);
        string(p->get_name());
        put(':');
        value(p->get_value(), indent + 1);
        put(i + 1 < n ? ",\n" : "\n");
    }
    tabs(indent);
    put('}');
}

void Json::Writer::value(const Value* v, int indent) {
    switch (v->type_) {
        case NULL_VALUE:
            put("null");
            return;
        case BOOLEAN:
            put(v->boolean_ ? "true" : "false");
            return;
        case STRING:
            string(v->string_);
            return;
        case OBJECT:
            object(v->object_, indent);
            return;
        case ARRAY: {
            put("[\n");
            int n = v->get_size();
            for (int i = 0; i < n; ++i) {
                tabs(indent + 1);
                value(v->get_item(i), indent + 1);
                put(i + 1 < n ? ",\n" : "\n");
            }
            tabs(indent);
            put(']');
            return;
        }
        default:
            number(v->number_, v->type_ - NUMBER0);
    }
}

// The text "%.<decimals>lf" gives for the value, built from the integer so
// that no digit is lost beyond a double's 53 bits.
void Json::Writer::number(int64_t scaled, int decimals) {
    uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : scaled;
    uint64_t power = static_cast<uint64_t>(FIXED_POINT_POWER[decimals]);
    char text[48];
    int n = snprintf(text, sizeof text, "%s%llu", scaled < 0 ? "-" : "",
                     static_cast<unsigned long long>(magnitude / power));
    if (decimals > 0) {
        char* w = text + n;
        *w++ = '.';
        uint64_t fraction = magnitude % power;
        for (int i = decimals - 1; i >= 0; --i, fraction /= 10) w[i] = '0' + fraction % 10;
        w[decimals] = '\0';
    }
    put(text);
}

int Json::output(FILE* file, int indent) const {
    if (!file) return -1;
    Writer w(file, nullptr);
    write_all(w, indent);
    return w.result();
}

int Json::output(char* buffer, int indent) const {
    Writer w(nullptr, buffer);
    write_all(w, indent);
    if (buffer) buffer[w.result()] = '\0';
    return w.result();
}

void Json::write_all(Writer& w, int indent) const {
    Queue::Iterator it(&objects_);
    while (void* o = it.next()) {
        w.tabs(indent);
        w.object(static_cast<const Object*>(o), indent);
        w.put('\n');
    }
}

}  // namespace Base

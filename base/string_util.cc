#include "base/string_util.h"

#include <string.h>

namespace Base {

char* str_token(char* text, const char* delimiter, int& position) {
    if (position < 0 || (position == 0 && text[0] == '\0')) return nullptr;
    char* token = text + position;
    size_t width = strlen(delimiter);
    char* found = width ? strstr(token, delimiter) : nullptr;
    if (!found) {
        position = -1;
        return token;
    }
    memset(found, 0, width);
    position = static_cast<int>(found + width - text);
    return token;
}

int find_split(const char* text, char c, bool from_end) {
    if (c == '\0') return -1;
    const char* p = from_end ? strrchr(text, c) : strchr(text, c);
    return p ? static_cast<int>(p - text) : -1;
}

bool str_head(const char* text, const char* prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

bool str_tail(const char* text, const char* suffix) {
    const char* p = strstr(text, suffix);
    return p && p[strlen(suffix)] == '\0';
}

int replace_str(const char* text, char* out, const char* from, const char* to) {
    size_t from_len = strlen(from);
    size_t to_len = strlen(to);
    size_t length = 0;
    const char* p = text;
    while (from_len) {
        const char* found = strstr(p, from);
        if (!found) break;
        size_t keep = static_cast<size_t>(found - p);
        if (out) {
            memcpy(out + length, p, keep);
            memcpy(out + length + keep, to, to_len);
        }
        length += keep + to_len;
        p = found + from_len;
    }
    size_t rest = strlen(p);
    if (out) memcpy(out + length, p, rest + 1);
    return static_cast<int>(length + rest);
}

int replace_char(char* text, char from, char to) {
    int count = 0;
    for (char* p = text; *p; ++p) {
        if (*p == from) {
            *p = to;
            ++count;
        }
    }
    return count;
}

char* trim_left(char* text, char c) {
    size_t skip = 0;
    while (c != '\0' && text[skip] == c) ++skip;
    if (skip) memmove(text, text + skip, strlen(text + skip) + 1);
    return text;
}

char* trim_right(char* text, char c) {
    size_t n = strlen(text);
    while (n > 0 && text[n - 1] == c) text[--n] = '\0';
    return text;
}

namespace {

template <typename Pred>
bool all_of_class(const char* text, Pred pred) {
    if (!text[0]) return false;
    for (const char* p = text; *p; ++p)
        if (!pred(*p)) return false;
    return true;
}

}  // namespace

bool is_upper(const char* text) {
    return all_of_class(text, [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool is_lower(const char* text) {
    return all_of_class(text, [](char c) { return c >= 'a' && c <= 'z'; });
}

bool is_digit(const char* text) {
    return all_of_class(text, [](char c) { return c >= '0' && c <= '9'; });
}

char* to_upper(char* out, const char* in) {
    size_t i = 0;
    for (; in[i]; ++i) out[i] = (in[i] >= 'a' && in[i] <= 'z') ? in[i] - 'a' + 'A' : in[i];
    out[i] = '\0';
    return out;
}

char* to_lower(char* out, const char* in) {
    size_t i = 0;
    for (; in[i]; ++i) out[i] = (in[i] >= 'A' && in[i] <= 'Z') ? in[i] - 'A' + 'a' : in[i];
    out[i] = '\0';
    return out;
}

}  // namespace Base

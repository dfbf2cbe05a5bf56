#ifndef XELMD_BASE_STRING_UTIL_H
#define XELMD_BASE_STRING_UTIL_H

namespace Base {

// Helpers on NUL-terminated text. Any thread; no state.

// Re-entrant tokenizer. Start with position 0; each call returns the token at
// text + position and cuts it at the next whole delimiter (overwritten with
// NULs), moving position behind it. After the last token position is -1 and
// the next call returns null. An empty text yields no token at all.
char* str_token(char* text, const char* delimiter, int& position);
// Index of the first (or last) c in text, or -1.
int find_split(const char* text, char c, bool from_end);
bool str_head(const char* text, const char* prefix);
// True when the first occurrence of suffix ends the text.
bool str_tail(const char* text, const char* suffix);
// Replaces every from by to, writing to out when it is not null; returns the
// length of the result. An empty from replaces nothing.
int replace_str(const char* text, char* out, const char* from, const char* to);
// In place; returns the number replaced.
int replace_char(char* text, char from, char to);
// Remove the run of c at the start or end, in place; return text.
char* trim_left(char* text, char c);
char* trim_right(char* text, char c);
// True when text is non-empty and every character is of the class (ASCII).
bool is_upper(const char* text);
bool is_lower(const char* text);
bool is_digit(const char* text);
// Copy in to out with ASCII letters changed; out may equal in.
char* to_upper(char* out, const char* in);
char* to_lower(char* out, const char* in);

}  // namespace Base

#endif  // XELMD_BASE_STRING_UTIL_H

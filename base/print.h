#ifndef XELMD_BASE_PRINT_H
#define XELMD_BASE_PRINT_H

namespace Base {

// printf-style output. Any thread (each call is one stdio operation).

// To standard output, flushed.
void PRINT(const char* format, ...) __attribute__((format(printf, 1, 2)));
// To standard error, flushed.
void EPRINT(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats into buffer, which holds size characters plus the NUL; buffer[size]
// is always NUL. True when the whole text fitted. With a null buffer it only
// measures (true when the text would fit in size characters).
bool str_print(int size, char* buffer, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Formats at buffer + offset, which the caller has sized, and returns the
// length written; with a null buffer returns the length the text would have.
int SPRINT(char* buffer, int offset, const char* format, ...) __attribute__((format(printf, 3, 4)));

}  // namespace Base

#endif  // XELMD_BASE_PRINT_H

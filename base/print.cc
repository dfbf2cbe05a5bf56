#include "base/print.h"

#include <stdarg.h>
#include <stdio.h>

namespace Base {

void PRINT(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(stdout, format, args);
    va_end(args);
    fflush(stdout);
}

void EPRINT(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fflush(stderr);
}

bool str_print(int size, char* buffer, const char* format, ...) {
    if (size < 0) return false;
    va_list args;
    va_start(args, format);
    int n = buffer ? vsnprintf(buffer, static_cast<size_t>(size) + 1, format, args)
                   : vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (buffer) buffer[size] = '\0';
    return n >= 0 && n <= size;
}

int SPRINT(char* buffer, int offset, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = buffer ? vsprintf(buffer + offset, format, args) : vsnprintf(nullptr, 0, format, args);
    va_end(args);
    return n;
}

}  // namespace Base

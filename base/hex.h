#ifndef XELMD_BASE_HEX_H
#define XELMD_BASE_HEX_H

#include <stdio.h>

namespace Base {

// Hexadecimal text of bytes, high nibble first. Any thread.

// Writes 2 * count digits to out, without a NUL.
void hex_from_bytes(char* out, const char* bytes, int count, bool upper);
// Reads 2 * count digits of either case into count bytes. Returns out, or
// null at the first non-digit (bytes before it are already written); a NUL
// counts as a non-digit, so a short text is never read past.
char* hex_to_bytes(const char* hex, char* out, int count);
void hex_output(const unsigned char* bytes, int count, bool upper, FILE* stream);

}  // namespace Base

#endif  // XELMD_BASE_HEX_H

#ifndef XELMD_BASE_FILE_H
#define XELMD_BASE_FILE_H

#include <stdio.h>

namespace Base {

// Path and open-stream helpers. Static functions; any thread (a stream is
// used by one thread at a time).
class File {
  public:
    static bool is_exist(const char* path);

    // Cuts the file at the current position.
    static bool truncate(FILE* file);
    static bool get_length(FILE* file, long& length);
    static bool get_pos(FILE* file, long& pos);
    static bool set_pos(FILE* file, long pos);
    // One line into buffer (size bytes with the NUL), cut at the first CR or
    // LF; false at the end of the file.
    static bool read_line(FILE* file, char* buffer, int size);
};

}  // namespace Base

#endif  // XELMD_BASE_FILE_H

#ifndef XELMD_BASE_FILE_H
#define XELMD_BASE_FILE_H

#include <stdio.h>

namespace Base {

// Path and open-stream helpers. Static functions; any thread (a stream is
// used by one thread at a time). Output buffers are sized by the caller.
class File {
  public:
    // Copies path with every '\\' written as '/'.
    static char* convert_path(char* out, const char* path);
    // The converted path cut at its last '/' ("/" for a root entry), or "."
    // when there is none.
    static char* get_parent_path(char* out, const char* path);
    static char* get_child_path(char* out, const char* path, const char* name);
    // Splits the converted path at its last '/' into dir (when given; empty
    // without a '/') and the last component, and that at its last separator
    // into name and ext (separator included, when given; empty without one).
    static void get_name(char* dir, char* name, char* ext, const char* path, char separator);

    static bool is_exist(const char* path);
    static bool remove(const char* path);
    static bool rename(const char* old_path, const char* new_path);

    // Moves to the start, then sets the length.
    static bool set_length(FILE* file, long length);
    // Cuts the file at the current position.
    static bool truncate(FILE* file);
    static bool get_length(FILE* file, long& length);
    // Seconds since the epoch; 0 on failure.
    static long get_last_modify_time(FILE* file);
    static bool get_pos(FILE* file, long& pos);
    static bool set_pos(FILE* file, long pos);
    // One line into buffer (size bytes with the NUL), cut at the first CR or
    // LF; false at the end of the file.
    static bool read_line(FILE* file, char* buffer, int size);
};

}  // namespace Base

#endif  // XELMD_BASE_FILE_H

#include "base/file.h"

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Base {

bool File::is_exist(const char* path) {
    return access(path, F_OK) == 0;
}

bool File::truncate(FILE* file) {
    if (fflush(file) != 0) return false;
    long pos = ftell(file);
    return pos >= 0 && ftruncate(fileno(file), pos) == 0;
}

bool File::get_length(FILE* file, long& length) {
    struct stat st;
    // Buffered writes count as part of the file.
    if (fflush(file) != 0 || fstat(fileno(file), &st) != 0) return false;
    length = static_cast<long>(st.st_size);
    return true;
}

bool File::get_pos(FILE* file, long& pos) {
    long p = ftell(file);
    if (p < 0) return false;
    pos = p;
    return true;
}

bool File::set_pos(FILE* file, long pos) {
    return fseek(file, pos, SEEK_SET) == 0;
}

bool File::read_line(FILE* file, char* buffer, int size) {
    if (size <= 0) return false;
    memset(buffer, 0, static_cast<size_t>(size));
    if (!fgets(buffer, size, file)) return false;
    buffer[strcspn(buffer, "\r\n")] = '\0';
    return true;
}

}  // namespace Base

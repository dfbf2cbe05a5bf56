#include "base/file.h"

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Base {

char* File::convert_path(char* out, const char* path) {
    size_t i = 0;
    for (; path[i]; ++i) out[i] = path[i] == '\\' ? '/' : path[i];
    out[i] = '\0';
    return out;
}

char* File::get_parent_path(char* out, const char* path) {
    convert_path(out, path);
    char* slash = strrchr(out, '/');
    if (!slash)
        strcpy(out, ".");
    else
        slash[slash == out ? 1 : 0] = '\0';
    return out;
}

char* File::get_child_path(char* out, const char* path, const char* name) {
    convert_path(out, path);
    size_t n = strlen(out);
    out[n] = '/';
    strcpy(out + n + 1, name);
    return out;
}

void File::get_name(char* dir, char* name, char* ext, const char* path, char separator) {
    // Converted in name's buffer, then the last component is moved to its front.
    convert_path(name, path);
    char* slash = strrchr(name, '/');
    if (dir) {
        size_t n = slash ? static_cast<size_t>(slash - name) : 0;
        memcpy(dir, name, n);
        dir[n] = '\0';
    }
    if (slash) memmove(name, slash + 1, strlen(slash + 1) + 1);
    char* dot = separator ? strrchr(name, separator) : nullptr;
    if (ext) strcpy(ext, dot ? dot : "");
    if (dot) *dot = '\0';
}

bool File::is_exist(const char* path) {
    return access(path, F_OK) == 0;
}

bool File::remove(const char* path) {
    return ::remove(path) == 0;
}

bool File::rename(const char* old_path, const char* new_path) {
    return ::rename(old_path, new_path) == 0;
}

bool File::set_length(FILE* file, long length) {
    if (fseek(file, 0, SEEK_SET) != 0) return false;
    return ftruncate(fileno(file), length) == 0;
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

long File::get_last_modify_time(FILE* file) {
    struct stat st;
    if (fstat(fileno(file), &st) != 0) return 0;
    return static_cast<long>(st.st_mtime);
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

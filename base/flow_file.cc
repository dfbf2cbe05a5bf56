#include "base/flow_file.h"

#include <unistd.h>

#include <cstring>

#include "base/byte_order.h"
#include "base/vector.h"

namespace Base {

FILE* FlowFile::open_save(const char* path, bool keep_existing, unsigned short version,
                          bool& continued, long& size) {
    continued = false;
    if (!keep_existing) ::remove(path);
    FILE* file = fopen(path, "a+be");
    if (file == nullptr) return nullptr;
    size = get_end(file);
    if (size > 0) {
        continued = true;
    } else if (restart(file, version)) {
        size = 2;
    } else {
        fclose(file);
        return nullptr;
    }
    return file;
}

long FlowFile::get_end(FILE* file) {
    if (fflush(file) != 0 || fseek(file, 0, SEEK_END) != 0) return -1;
    return ftell(file);
}

FILE* FlowFile::open_load(const char* path, unsigned short mine, unsigned short& version) {
    FILE* file = fopen(path, "r+be");
    if (file == nullptr) return nullptr;
    if (!read_version(file, version)) {
        fclose(file);
        return nullptr;
    }
    if (version < mine) {
        fclose(file);
        ::remove(path);
        return nullptr;
    }
    return file;
}

bool FlowFile::read_version(FILE* file, unsigned short& version) {
    unsigned char b[2];
    if (fread(b, 1, 2, file) != 2) return false;
    version = load_be16(b);
    return true;
}

bool FlowFile::restart(FILE* file, unsigned short version) {
    if (fflush(file) != 0 || ftruncate(fileno(file), 0) != 0) return false;
    if (fseek(file, 0, SEEK_SET) != 0) return false;
    unsigned char b[2];
    store_be16(b, version);
    return fwrite(b, 1, 2, file) == 2 && fflush(file) == 0;
}

bool FlowFile::write_record(FILE* file, const void* data, unsigned short length) {
    unsigned char b[4];
    store_be32(b, length);
    if (fwrite(b, 1, 4, file) != 4) return false;
    if (length != 0 && fwrite(data, 1, length, file) != length) return false;
    return fflush(file) == 0;
}

bool FlowFile::read_length(FILE* file, unsigned int& length) {
    unsigned char b[4];
    if (fread(b, 1, 4, file) != 4) return false;
    length = load_be32(b);
    return length <= MAX_RECORD;
}

bool FlowFile::cut(FILE* file, long offset) {
    return fflush(file) == 0 && ftruncate(fileno(file), offset) == 0 &&
           fseek(file, offset, SEEK_SET) == 0;
}

void FlowFile::set_entry(Vector* index, unsigned long slot, unsigned long offset) {
    index->set(static_cast<unsigned int>(slot), &offset);
}

unsigned long FlowFile::get_entry(const Vector* index, unsigned long slot) {
    const void* p = index->get(static_cast<unsigned int>(slot));
    if (p == nullptr) return 0;
    unsigned long v;
    memcpy(&v, p, sizeof v);
    return v;
}

unsigned long FlowFile::get_entry_count(const Vector* index) {
    return index->get_count();
}

}  // namespace Base

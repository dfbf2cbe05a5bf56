#ifndef XELMD_BASE_FLOW_FILE_H
#define XELMD_BASE_FLOW_FILE_H

#include <stdio.h>

namespace Base {

class Vector;

// Record primitives of the flow file: a 2-byte big-endian version, then
// records of a 4-byte big-endian length and that many bytes. Shared by the
// savers, loaders and file readers of every flow kind. Static; a stream is
// used by one thread at a time.
class FlowFile {
  public:
    static constexpr unsigned int MAX_RECORD = 65535;
    static constexpr int PATH_SIZE = 256;

    // Opens a file for saving ("a+b"), removing an old one unless kept. A
    // non-empty file is continued (continued set), an empty one gets the
    // version; size is where the next record goes. Null when either fails.
    static FILE* open_save(const char* path, bool keep_existing, unsigned short version,
                           bool& continued, long& size);
    // Where the next record of a saved file goes, asked of the file itself
    // (after a failed write the saver's own count is not to be trusted).
    static long get_end(FILE* file);
    // Opens a file for loading ("r+b") and reads its version. A file with a
    // version below mine is deleted; null then, or on a short version word.
    static FILE* open_load(const char* path, unsigned short mine, unsigned short& version);

    static bool read_version(FILE* file, unsigned short& version);
    // Rewinds, empties the file and writes the version.
    static bool restart(FILE* file, unsigned short version);
    // Length, data and a flush; false on any failure.
    static bool write_record(FILE* file, const void* data, unsigned short length);
    // False at the end of the file, on a short length or on a length that no
    // object can have (the rest of the file is then not trusted).
    static bool read_length(FILE* file, unsigned int& length);
    // Cuts the file at offset.
    static bool cut(FILE* file, long offset);

    // Position index: entry k holds the offset of record k * step; entries
    // before the first record stay 0.
    static void set_entry(Vector* index, unsigned long slot, unsigned long offset);
    static unsigned long get_entry(const Vector* index, unsigned long slot);
    static unsigned long get_entry_count(const Vector* index);
};

}  // namespace Base

#endif  // XELMD_BASE_FLOW_FILE_H

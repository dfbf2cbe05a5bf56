#ifndef XELMD_BASE_FIELD_DESC_H
#define XELMD_BASE_FIELD_DESC_H

#include <cstdio>

#include "base/data_type.h"
#include "base/json.h"

namespace Base {

class Csv;
class Map;

// Run-time description of one fixed-layout record: its id, name and ordered
// members. Generic code streams, prints, parses, compares and hashes records
// through it. Built once (static descriptors at program start, or by the
// catalogue loader) and read-only afterwards, when any thread may use it.
class FieldDesc {
  public:
    static const int MAX_MEMBERS = 512;
    static const int TYPE_NAME_SIZE = 64;
    static const int NAME_SIZE = 128;
    static const int FIELD_NAME_SIZE = 64;

    struct MemberDesc {
        DataType type;
        int size;          // element_size * count
        int element_size;  // for STRING the buffer length including the NUL
        int count;
        int offset;         // in the in-memory structure
        int stream_offset;  // in the packed stream form (no padding)
        char type_name[TYPE_NAME_SIZE];
        char name[NAME_SIZE];
        bool is_key;
    };

    FieldDesc(unsigned short id, const char* name);
    // Generated records: describe() adds the members with setup_member.
    FieldDesc(unsigned short id, int struct_size, const char* name, void (*describe)());
    virtual ~FieldDesc();
    FieldDesc(const FieldDesc&) = delete;
    FieldDesc& operator=(const FieldDesc&) = delete;

    void setup_member(DataType type, int size, int element_size, int count, int offset,
                      const char* type_name, const char* name, bool is_key);
    // Appends at the current end of the structure, no alignment.
    void add_member(DataType type, int size, const char* type_name, const char* name, bool is_key);
    void add_member(const MemberDesc* member);
    void clear();
    void copy(const FieldDesc* other);
    // Same members in every respect; id and field name are not compared.
    static bool is_same(const FieldDesc* a, const FieldDesc* b);

    const MemberDesc* get_member_desc(int index) const;
    int get_member_index(const char* name) const;
    void* get_member(const void* record, int index) const;

    void* alloc_field() const;
    static void free_field(void* record);
    void copy_field(void* dst, const void* src) const;

    // Packed big-endian form. to_stream writes members while their record
    // range fits in `length` bytes and zeroes the stream from the first that
    // does not; from_stream reads members while their stream range fits in
    // `length` and zeroes the record from the first that does not.
    void to_stream(const void* record, void* stream, int length) const;
    void from_stream(void* record, const void* stream, int length) const;

    // Compact forms; the bytes written or read, -1 when the output does not
    // fit or the input is malformed (truncated, inconsistent layout).
    int to_var_stream(const void* record, void* out, int capacity) const;
    int from_var_stream(void* record, const void* in, int length) const;
    int to_var_stream(void* out, int capacity) const;
    int from_var_stream(const void* in, int length);

    static bool is_null(DataType type, const void* value);
    static void set_null(DataType type, void* value);
    bool is_null(const void* record) const;
    void set_null(void* record) const;
    // Copies one value of the member's type; null value sets the member null.
    void set_field(int index, void* record, const void* value) const;

    static int compare_member(DataType type, const void* a, const void* b, bool ascending);
    int compare_key(const void* a, const void* b, bool ascending) const;
    static int compare_key(void* desc, const void* a, const void* b);
    static bool equal_member(DataType type, const void* a, const void* b);
    bool equal_key(const void* a, const void* b) const;
    static bool equal_key(void* desc, const void* a, const void* b);
    bool equal_field(const void* a, const void* b, int first, int last) const;
    bool equal_field(const void* a, const void* b) const;
    static unsigned int hash_member(DataType type, const void* value, unsigned int seed);
    unsigned int hash_key(const void* record) const;
    // Context forms for Base::Map keyed by records of this descriptor.
    static unsigned int hash_key(void* desc, const void* record);

    // Text. A null value prints as nothing. hexbuf, when given, appends the
    // raw bytes of floating-point values after an at sign.
    static bool fill_member(DataType type, void* value, const char* text, int size);
    static int print_member(char* out, DataType type, const void* value, bool quoted, int width,
                            bool pad, char* hexbuf);
    int print_field(char* out, const void* record, bool quoted, bool pad, bool named,
                    char* hexbuf) const;
    static void write_member(DataType type, const void* value, bool quoted, FILE* file, int width,
                             bool pad, char* hexbuf);
    void write_field(const void* record, bool quoted, FILE* file, bool pad, bool named,
                     char* hexbuf) const;
    void write_head(bool quoted, FILE* file) const;

    // CSV: each member from the column named after it (a missing column
    // zero-fills it), and into the column of its index; false when a cell
    // does not convert. exact appends the raw bytes of floats.
    bool from_csv(const Csv* csv, void* record, char* buffer) const;
    bool to_csv(Csv* csv, const void* record, bool exact) const;
    // JSON: string properties named after the members. from_json stops with
    // false at the first property that is not a string or names no member.
    bool from_json(const Json::Object* object, void* record) const;
    bool to_json(Json::Object* object, const void* record, char* hexbuf) const;
    // Writes {"name":"value",...} with JSON escapes; escbuf, when given,
    // holds at least 512 bytes. Returns the bytes written or -1.
    int to_json(FILE* file, const void* record, char* buffer, char* escbuf, bool exact) const;

    int member_count;
    MemberDesc members[MAX_MEMBERS];
    unsigned short field_id;
    char field_name[FIELD_NAME_SIZE];
    unsigned short struct_size;
    unsigned short stream_size;
    Map* member_index;  // member name -> index

  private:
    void index_member(int index);
    void rebuild_index();
    bool valid_member(const MemberDesc& m) const;
};

}  // namespace Base

#endif  // XELMD_BASE_FIELD_DESC_H

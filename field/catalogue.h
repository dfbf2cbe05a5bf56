#ifndef XELMD_FIELD_CATALOGUE_H
#define XELMD_FIELD_CATALOGUE_H

namespace Base {
class FieldDesc;
class Map;
}  // namespace Base

namespace Field {

// A record type with its generated wire coders.
struct FieldStreamCoders {
    Base::FieldDesc* desc;
    void (*to_stream)(const void* record, void* out, int length);
    int (*from_stream)(void* record, const void* in, int length, bool keep_double);
};

// A record type with its generated fixed-point converters.
struct FieldStructCoders {
    Base::FieldDesc* desc;
    void (*to_struct)(const void* src, void* dst, int length);
    int (*from_struct)(void* dst, const void* src, int length);
};

// The four lookup tables of one generated catalogue and the operations on
// them, including the catalogue file. Filled at program start; lookups are
// then safe from any thread, while load() must run alone.
class Catalogue {
  public:
    // Key and value size of the name tables (63 characters and a NUL).
    static const int NAME_SIZE = 64;
    // Room for the compact form of the largest descriptor.
    static const int DESC_BUFFER_SIZE = 112800;

    struct Packet {
        unsigned short tid;
        const char* name;
    };

    void add_field(Base::FieldDesc* desc);
    void add_packet(unsigned short tid, const char* name);
    Base::FieldDesc* find_field(const char* name) const;
    Base::FieldDesc* find_field(unsigned short field_id) const;
    const char* find_packet_name(unsigned short tid) const;
    // 0 when unknown.
    unsigned short find_packet_id(const char* name) const;

    // File: count, then per descriptor its length and compact form; count,
    // then per transaction tid, name length with NUL, name. Host byte order.
    bool save(const char* path) const;
    // Empties the tables first; what was read before a failure stays
    // registered. Descriptors of an earlier load are freed.
    bool load(const char* path);

    Base::Map* name_map;         // record name -> FieldDesc*
    Base::Map* field_map;        // field id -> FieldDesc*
    Base::Map* packet_map;       // tid -> name
    Base::Map* packet_name_map;  // name -> tid
};

}  // namespace Field

#endif  // XELMD_FIELD_CATALOGUE_H

#include "field/catalogue.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/field_desc.h"
#include "base/map.h"

namespace Field {

namespace {

// Name keys are bounded copies, so a long name can never be read past its
// 64-byte key slot.
void name_key(char* key, const char* name) {
    int n = 0;
    while (name && n < Catalogue::NAME_SIZE - 1 && name[n] != '\0') ++n;
    if (n > 0) memcpy(key, name, static_cast<size_t>(n));
    memset(key + n, 0, static_cast<size_t>(Catalogue::NAME_SIZE - n));
}

// Descriptors created by load(), per field table, freed by the next load.
struct Loaded {
    const Base::Map* owner;
    Base::FieldDesc* desc;
    Loaded* next;
};
Loaded* g_loaded = nullptr;

void free_loaded(const Base::Map* owner) {
    Loaded** link = &g_loaded;
    while (*link) {
        Loaded* item = *link;
        if (item->owner == owner) {
            *link = item->next;
            delete item->desc;
            delete item;
        } else {
            link = &item->next;
        }
    }
}

bool write_all(FILE* file, const void* data, size_t size) {
    return fwrite(data, 1, size, file) == size;
}

bool read_all(FILE* file, void* data, size_t size) {
    return fread(data, 1, size, file) == size;
}

}  // namespace

void Catalogue::add_field(Base::FieldDesc* desc) {
    char key[NAME_SIZE];
    name_key(key, desc->field_name);
    name_map->insert(key, desc);
    unsigned short id = desc->field_id;
    field_map->insert(&id, desc);
}

void Catalogue::add_packet(unsigned short tid, const char* name) {
    char key[NAME_SIZE];
    name_key(key, name);
    packet_map->insert(&tid, key);
    packet_name_map->insert(key, &tid);
}

Base::FieldDesc* Catalogue::find_field(const char* name) const {
    if (!name) return nullptr;
    char key[NAME_SIZE];
    name_key(key, name);
    return static_cast<Base::FieldDesc*>(name_map->search(key));
}

Base::FieldDesc* Catalogue::find_field(unsigned short field_id) const {
    return static_cast<Base::FieldDesc*>(field_map->search(&field_id));
}

const char* Catalogue::find_packet_name(unsigned short tid) const {
    return static_cast<const char*>(packet_map->search(&tid));
}

unsigned short Catalogue::find_packet_id(const char* name) const {
    if (!name) return 0;
    char key[NAME_SIZE];
    name_key(key, name);
    const void* value = packet_name_map->search(key);
    if (!value) return 0;
    unsigned short tid;
    memcpy(&tid, value, sizeof tid);
    return tid;
}

bool Catalogue::save(const char* path) const {
    FILE* file = fopen(path, "w+b");
    if (!file) return false;
    unsigned char* buffer = static_cast<unsigned char*>(malloc(DESC_BUFFER_SIZE));
    unsigned long buckets = 0, count = 0;
    field_map->get_size(buckets, count);
    int n = static_cast<int>(count);
    bool ok = buffer && write_all(file, &n, sizeof n);
    Base::Map::Iterator fields(field_map, nullptr, false);
    while (ok) {
        const Base::FieldDesc* desc = static_cast<const Base::FieldDesc*>(fields.next());
        if (!desc) break;
        int length = desc->to_var_stream(buffer, DESC_BUFFER_SIZE);
        ok = length >= 0 && write_all(file, &length, sizeof length) &&
             write_all(file, buffer, static_cast<size_t>(length));
    }
    packet_map->get_size(buckets, count);
    n = static_cast<int>(count);
    ok = ok && write_all(file, &n, sizeof n);
    Base::Map::Iterator packets(packet_map, nullptr, true);
    while (ok) {
        const Base::Map::Node* node = static_cast<const Base::Map::Node*>(packets.next());
        if (!node) break;
        unsigned short tid;
        memcpy(&tid, node->key, sizeof tid);
        const char* name = static_cast<const char*>(node->value);
        int length = static_cast<int>(strlen(name)) + 1;
        ok = write_all(file, &tid, sizeof tid) && write_all(file, &length, sizeof length) &&
             write_all(file, name, static_cast<size_t>(length));
    }
    free(buffer);
    if (fclose(file) != 0) ok = false;
    return ok;
}

bool Catalogue::load(const char* path) {
    name_map->clear();
    field_map->clear();
    packet_map->clear();
    packet_name_map->clear();
    free_loaded(field_map);
    FILE* file = fopen(path, "rb");
    if (!file) return false;
    unsigned char* buffer = static_cast<unsigned char*>(malloc(DESC_BUFFER_SIZE));
    int n = 0;
    bool ok = buffer && read_all(file, &n, sizeof n) && n >= 0;
    for (int i = 0; ok && i < n; ++i) {
        int length = 0;
        ok = read_all(file, &length, sizeof length) && length >= 0 && length <= DESC_BUFFER_SIZE &&
             read_all(file, buffer, static_cast<size_t>(length));
        if (!ok) break;
        Base::FieldDesc* desc = new Base::FieldDesc(0, "");
        if (desc->from_var_stream(buffer, length) != length) {
            delete desc;
            ok = false;
            break;
        }
        g_loaded = new Loaded{field_map, desc, g_loaded};
        add_field(desc);
    }
    ok = ok && read_all(file, &n, sizeof n) && n >= 0;
    for (int i = 0; ok && i < n; ++i) {
        unsigned short tid = 0;
        int length = 0;
        char name[NAME_SIZE];
        ok = read_all(file, &tid, sizeof tid) && read_all(file, &length, sizeof length) &&
             length >= 1 && length <= NAME_SIZE &&
             read_all(file, name, static_cast<size_t>(length)) && name[length - 1] == '\0';
        if (ok) add_packet(tid, name);
    }
    free(buffer);
    fclose(file);
    return ok;
}

}  // namespace Field

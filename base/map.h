#ifndef XELMD_BASE_MAP_H
#define XELMD_BASE_MAP_H

#include "base/block_mem.h"
#include "base/data_type.h"

namespace Base {

// Chained hash map with a fixed power-of-two bucket count. Nodes live in a
// BlockMem and never move, so value pointers stay valid until the entry is
// removed (and its node reused) or the map is cleared. Keys and values are
// either pointers (size 0) or bytes copied into the node. One thread at a
// time.
class Map {
  public:
    typedef unsigned int (*HashFunc)(const void* key);
    typedef bool (*EqualFunc)(const void* a, const void* b);
    // Forms that take a context (for example a record descriptor) first.
    typedef unsigned int (*ContextHashFunc)(void* context, const void* key);
    typedef bool (*ContextEqualFunc)(void* context, const void* a, const void* b);

    struct Node {
        void* key;
        void* value;
        Node* next;
        unsigned int hash;
        // Copied key bytes, then value bytes, follow when their sizes are set.
    };

    // buckets is raised to a power of two (64 when 0); nodes_per_block
    // defaults to 1024 and the first node block holds first_blocks (default
    // 1) times that. memory may be null (heap).
    Map(HashFunc hash, EqualFunc equal, unsigned int buckets, int key_size, int value_size,
        int nodes_per_block, int first_blocks, Memory* memory);
    // Hash and equality picked from the key's member type: numbers hash
    // their bytes and compare by value, strings hash and compare up to the NUL.
    Map(DataType key_type, unsigned int buckets, int key_size, int value_size, int nodes_per_block,
        int first_blocks, Memory* memory);
    virtual ~Map();
    Map(const Map&) = delete;
    Map& operator=(const Map&) = delete;

    // The value of key, or null.
    void* search(const void* key) const;
    // As a set: the existing entry's value, or a new entry whose value is its
    // own key copy.
    void* insert(const void* key);
    // Adds or overwrites; a null value zero-fills a copied value. Returns the
    // entry's value pointer (the stored value when the value size is 0).
    void* insert(const void* key, const void* value);
    // Unlinks the entry; its value pointer stays readable until the node is
    // reused. Null when absent.
    void* remove(const void* key);
    void clear();
    virtual void get_size(unsigned long& buckets, unsigned long& count) const;

    // Hash and equality for NUL-terminated string keys; a map built with
    // equal_string copies keys with a bounded strcpy.
    static unsigned int hash_string(const void* key);
    static bool equal_string(const void* a, const void* b);

    // Walks all entries bucket by bucket, or with a key only the entries of
    // that key. next() returns the node (nodes true) or its value, null at
    // the end. The map must not change during the walk.
    class Iterator {
      public:
        Iterator(const Map* map, const void* key, bool nodes);
        void* next();
        // No further entry in the current bucket (or for the key).
        bool is_end() const;
        // No further entry at all.
        bool is_all_end() const;
        void reset();

      private:
        void advance();

        const Map* map_;
        const void* key_;
        unsigned int hash_;
        bool nodes_;
        unsigned long bucket_;
        unsigned long last_bucket_;  // bucket of the entry last handed out
        Node* node_;
    };

  protected:
    Map();
    // Shared by every constructor: the key-typed and context forms set their
    // functions and call this.
    void init(unsigned int buckets, int key_size, int value_size, int nodes_per_block,
              int first_blocks, Memory* memory);

    HashFunc hash_;
    EqualFunc equal_;
    ContextHashFunc context_hash_;
    ContextEqualFunc context_equal_;
    void* context_;

  private:
    unsigned int hash_of(const void* key) const {
        return hash_ ? hash_(key) : context_hash_(context_, key);
    }
    bool equal(const void* a, const void* b) const {
        return equal_ ? equal_(a, b) : context_equal_(context_, a, b);
    }
    Node* find(const void* key, unsigned int hash) const;
    Node* new_node(const void* key, unsigned int hash);
    void set_value(Node* node, const void* value);

    unsigned long buckets_;
    unsigned long mask_;
    unsigned long count_;
    int key_size_;    // as given: 0 stores the pointer
    int value_size_;  // as given: 0 stores the pointer
    unsigned long key_bytes_;
    unsigned long value_bytes_;
    unsigned long node_bytes_;
    BlockMem* nodes_;
    Node* free_;
    Node** table_;
};

}  // namespace Base

#endif  // XELMD_BASE_MAP_H

#include "base/map.h"

#include <stdlib.h>
#include <string.h>

#include "base/hash.h"

namespace Base {

namespace {

unsigned long round8(unsigned long n) {
    return n + align_addition(n, 3);
}

}  // namespace

Map::Map()
    : hash_(nullptr),
      equal_(nullptr),
      context_hash_(nullptr),
      context_equal_(nullptr),
      context_(nullptr),
      buckets_(0),
      mask_(0),
      count_(0),
      key_size_(0),
      value_size_(0),
      key_bytes_(0),
      value_bytes_(0),
      node_bytes_(0),
      nodes_(nullptr),
      free_(nullptr),
      table_(nullptr) {}

Map::Map(HashFunc hash, EqualFunc equal_func, unsigned int buckets, int key_size, int value_size,
         int nodes_per_block, int first_blocks, Memory* memory)
    : Map() {
    hash_ = hash;
    equal_ = equal_func;
    init(buckets, key_size, value_size, nodes_per_block, first_blocks, memory);
}

namespace {

// Key functions picked by member type: numbers hash their bytes and compare
// by value; floating point compares equal only when ordered-equal (never NaN).
template <int N>
unsigned int hash_bytes(const void* key) {
    return Hash::calc(key, N, 0);
}

template <typename T>
bool equal_value(const void* a, const void* b) {
    T x, y;
    memcpy(&x, a, sizeof x);
    memcpy(&y, b, sizeof y);
    return x == y;
}

}  // namespace

Map::Map(DataType key_type, unsigned int buckets, int key_size, int value_size, int nodes_per_block,
         int first_blocks, Memory* memory)
    : Map() {
    switch (key_type) {
        case TYPE_STRING:
            hash_ = hash_string;
            equal_ = equal_string;
            break;
        case TYPE_UINT8:
        case TYPE_INT8:
        case TYPE_CHAR:
        case TYPE_BOOL:
            hash_ = hash_bytes<1>;
            equal_ = equal_value<unsigned char>;
            break;
        case TYPE_UINT16:
        case TYPE_INT16:
            hash_ = hash_bytes<2>;
            equal_ = equal_value<unsigned short>;
            break;
        case TYPE_UINT32:
        case TYPE_INT32:
        case TYPE_VINT32:
            hash_ = hash_bytes<4>;
            equal_ = equal_value<unsigned int>;
            break;
        case TYPE_FLOAT32:
            hash_ = hash_bytes<4>;
            equal_ = equal_value<float>;
            break;
        case TYPE_FLOAT64:
            hash_ = hash_bytes<8>;
            equal_ = equal_value<double>;
            break;
        default:  // 8-byte integers, fixed point, pointers
            hash_ = hash_bytes<8>;
            equal_ = equal_value<unsigned long>;
            break;
    }
    init(buckets, key_size, value_size, nodes_per_block, first_blocks, memory);
}

void Map::init(unsigned int buckets, int key_size, int value_size, int nodes_per_block,
               int first_blocks, Memory* memory) {
    unsigned long n = 64;
    if (buckets > 0) ceil_log(buckets, 2, &n);
    buckets_ = n;
    mask_ = n - 1;
    key_size_ = key_size > 0 ? key_size : 0;
    value_size_ = value_size > 0 ? value_size : 0;
    key_bytes_ = round8(key_size_);
    value_bytes_ = round8(value_size_);
    node_bytes_ = sizeof(Node) + key_bytes_ + value_bytes_;
    unsigned long per_block = nodes_per_block > 0 ? nodes_per_block : 1024;
    unsigned long first = (first_blocks > 0 ? first_blocks : 1) * per_block;
    nodes_ = new BlockMem(first * node_bytes_, per_block * node_bytes_, 3, memory, false);
    table_ = static_cast<Node**>(alloc_zeroed(buckets_ * sizeof(Node*)));
    if (!table_) abort();
}

Map::~Map() {
    delete nodes_;
    free_zeroed(table_, buckets_ * sizeof(Node*));
}

Map::Node* Map::find(const void* key, unsigned int hash) const {
    for (Node* n = table_[hash & mask_]; n; n = n->next) {
        if (n->hash == hash && equal(n->key, key)) return n;
    }
    return nullptr;
}

void* Map::search(const void* key) const {
    Node* n = find(key, hash_of(key));
    return n ? n->value : nullptr;
}

Map::Node* Map::new_node(const void* key, unsigned int hash) {
    Node* n = free_;
    if (n) {
        free_ = n->next;
    } else {
        n = static_cast<Node*>(nodes_->alloc(node_bytes_));
    }
    char* extra = reinterpret_cast<char*>(n + 1);
    if (key_size_) {
        n->key = extra;
        if (equal_ == equal_string) {
            strncpy(extra, static_cast<const char*>(key), key_size_ - 1);
            extra[key_size_ - 1] = 0;
        } else {
            memcpy(extra, key, key_size_);
        }
    } else {
        n->key = const_cast<void*>(key);
    }
    n->value = value_size_ ? extra + key_bytes_ : nullptr;
    n->hash = hash;
    Node** bucket = &table_[hash & mask_];
    n->next = *bucket;
    *bucket = n;
    ++count_;
    return n;
}

void Map::set_value(Node* node, const void* value) {
    if (!value_size_) {
        node->value = const_cast<void*>(value);
    } else if (value) {
        memmove(node->value, value, value_size_);
    } else {
        memset(node->value, 0, value_size_);
    }
}

void* Map::insert(const void* key) {
    unsigned int hash = hash_of(key);
    if (Node* n = find(key, hash)) return n->value;
    Node* n = new_node(key, hash);
    n->value = n->key;
    return n->value;
}

void* Map::insert(const void* key, const void* value) {
    unsigned int hash = hash_of(key);
    Node* n = find(key, hash);
    if (!n) n = new_node(key, hash);
    set_value(n, value);
    return n->value;
}

void* Map::remove(const void* key) {
    unsigned int hash = hash_of(key);
    for (Node** link = &table_[hash & mask_]; *link; link = &(*link)->next) {
        Node* n = *link;
        if (n->hash != hash || !equal(n->key, key)) continue;
        *link = n->next;
        n->next = free_;
        free_ = n;
        --count_;
        return n->value;
    }
    return nullptr;
}

void Map::clear() {
    memset(table_, 0, buckets_ * sizeof(Node*));
    free_ = nullptr;
    count_ = 0;
    nodes_->clear();
}

void Map::get_size(unsigned long& buckets, unsigned long& count) const {
    buckets = buckets_;
    count = count_;
}

unsigned int Map::hash_string(const void* key) {
    const char* s = static_cast<const char*>(key);
    return Hash::calc(s, static_cast<int>(strlen(s)), 0);
}

bool Map::equal_string(const void* a, const void* b) {
    return strcmp(static_cast<const char*>(a), static_cast<const char*>(b)) == 0;
}

Map::Iterator::Iterator(const Map* map, const void* key, bool nodes)
    : map_(map), key_(key), hash_(key ? map->hash_of(key) : 0), nodes_(nodes) {
    reset();
}

void Map::Iterator::reset() {
    bucket_ = key_ ? (hash_ & map_->mask_) : 0;
    node_ = map_->table_[bucket_];
    advance();
    last_bucket_ = bucket_;
}

// Moves node_ to the next entry to hand out, at or after node_.
void Map::Iterator::advance() {
    if (key_) {
        while (node_ && !(node_->hash == hash_ && map_->equal(node_->key, key_)))
            node_ = node_->next;
        return;
    }
    while (!node_ && bucket_ + 1 < map_->buckets_) node_ = map_->table_[++bucket_];
}

void* Map::Iterator::next() {
    Node* n = node_;
    if (!n) return nullptr;
    last_bucket_ = bucket_;
    node_ = n->next;
    advance();
    return nodes_ ? static_cast<void*>(n) : n->value;
}

bool Map::Iterator::is_end() const {
    return !node_ || bucket_ != last_bucket_;
}

bool Map::Iterator::is_all_end() const {
    return node_ == nullptr;
}

}  // namespace Base

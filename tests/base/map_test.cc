#include "base/map.h"

#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/hash.h"

namespace {

// The market-data cache's key: a 32-bit topic and a NUL-terminated
// instrument of at most 30 characters.
struct Key {
    unsigned int topic;
    char instrument[32];
};
static_assert(sizeof(Key) == 36, "cache key is 36 bytes");

unsigned int hash_key(const void* k) {
    const Key* key = static_cast<const Key*>(k);
    unsigned int h = Base::Hash::calc(&key->topic, 4, 0);
    return Base::Hash::calc(key->instrument, static_cast<int>(strlen(key->instrument)), h);
}

bool equal_key(const void* a, const void* b) {
    const Key* x = static_cast<const Key*>(a);
    const Key* y = static_cast<const Key*>(b);
    return x->topic == y->topic && strcmp(x->instrument, y->instrument) == 0;
}

Key make_key(unsigned int topic, const std::string& instrument) {
    Key k;
    memset(&k, 0, sizeof(k));
    k.topic = topic;
    strncpy(k.instrument, instrument.c_str(), 30);
    return k;
}

// Every key lands in one bucket: exercises chains.
unsigned int constant_hash(const void*) {
    return 42;
}
bool equal_long(const void* a, const void* b) {
    return *static_cast<const long*>(a) == *static_cast<const long*>(b);
}

unsigned long count_of(const Base::Map& m) {
    unsigned long buckets, count;
    m.get_size(buckets, count);
    return count;
}

TEST(Map, SetInsertReturnsTheKeyCopy) {
    Base::Map m(Base::Map::hash_string, Base::Map::equal_string, 8, 16, 0, 0, 0, nullptr);
    char name[] = "alpha";
    char* stored = static_cast<char*>(m.insert(name));
    ASSERT_NE(stored, nullptr);
    EXPECT_NE(stored, name);
    EXPECT_STREQ(stored, "alpha");
    EXPECT_EQ(m.insert("alpha"), stored);
    EXPECT_EQ(m.search("alpha"), stored);
    // A longer string is cut to the key size.
    char* cut = static_cast<char*>(m.insert("a-very-long-name-beyond-16"));
    EXPECT_EQ(strlen(cut), 15u);
}

TEST(Map, PointerKeysAndValuesAreStoredAsGiven) {
    Base::Map m(constant_hash, equal_long, 4, 0, 0, 2, 1, nullptr);
    long k1 = 1, k2 = 2, k3 = 3, probe = 3;
    int a, b, c;
    m.insert(&k1, &a);
    m.insert(&k2, &b);
    m.insert(&k3, &c);
    EXPECT_EQ(m.search(&probe), &c);
    EXPECT_EQ(m.remove(&k2), &b);
    EXPECT_EQ(m.remove(&k2), nullptr);
    EXPECT_EQ((std::vector<void*>{m.search(&k1), m.search(&k2), m.search(&k3)}),
              (std::vector<void*>{&a, nullptr, &c}));
}

// Five buckets asked for are rounded up to the power of two, eight.
TEST(Map, IteratorVisitsEveryEntryOrOnlyTheKey) {
    Base::Map m(hash_key, equal_key, 5, 36, 8, 0, 0, nullptr);
    std::set<long> all;
    for (long i = 0; i < 50; ++i) {
        Key k = make_key(static_cast<unsigned int>(i % 3), "I" + std::to_string(i));
        m.insert(&k, &i);
        all.insert(i);
    }
    Base::Map::Iterator it(&m, nullptr, false);
    std::set<long> seen;
    int bucket_ends = 0;
    while (!it.is_all_end()) {
        long* v = static_cast<long*>(it.next());
        ASSERT_NE(v, nullptr);
        EXPECT_TRUE(seen.insert(*v).second);
        bucket_ends += it.is_end();
    }
    EXPECT_EQ(it.next(), nullptr);
    EXPECT_EQ(seen, all);
    EXPECT_GE(bucket_ends, 2);
    EXPECT_LE(bucket_ends, 8);
    unsigned long buckets, count;
    m.get_size(buckets, count);
    EXPECT_EQ(std::make_pair(buckets, count), std::make_pair(8UL, 50UL));
    it.reset();
    EXPECT_NE(it.next(), nullptr);

    Key k = make_key(1, "I7");
    Base::Map::Iterator one(&m, &k, true);
    Base::Map::Node* n = static_cast<Base::Map::Node*>(one.next());
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(*static_cast<long*>(n->value), 7);
    EXPECT_TRUE(one.is_end());
    EXPECT_EQ(one.next(), nullptr);
}

// Random inserts, overwrites and removes against std::unordered_map, with
// few buckets so chains are long, drawing nodes from a Memory.
TEST(Map, AgreesWithStandardMapOnRandomOperations) {
    Base::Memory memory(1 << 20, 1 << 20);
    Base::Map m(hash_key, equal_key, 32, 36, 8, 64, 2, &memory);
    std::unordered_map<std::string, long> ref;
    std::mt19937 rng(7);
    for (int op = 0; op < 200000; ++op) {
        unsigned int topic = rng() % 4;
        std::string name = "X" + std::to_string(rng() % 500);
        Key k = make_key(topic, name);
        std::string rk = std::to_string(topic) + "/" + name;
        long value = static_cast<long>(rng());
        switch (rng() % 3) {
            case 0:
            case 1:
                m.insert(&k, &value);
                ref[rk] = value;
                break;
            default: {
                void* removed = m.remove(&k);
                EXPECT_EQ(removed != nullptr, ref.erase(rk) == 1);
            }
        }
        Key probe = make_key(rng() % 4, "X" + std::to_string(rng() % 500));
        long* found = static_cast<long*>(m.search(&probe));
        auto it = ref.find(std::to_string(probe.topic) + "/" + probe.instrument);
        ASSERT_EQ(found != nullptr, it != ref.end());
        if (found) {
            ASSERT_EQ(*found, it->second);
        }
    }
    EXPECT_EQ(count_of(m), ref.size());
    // Cleared, the map is empty and still takes entries.
    m.clear();
    EXPECT_EQ(count_of(m), 0u);
    Key k = make_key(1, "X5");
    EXPECT_EQ(m.search(&k), nullptr);
    long v = 3;
    m.insert(&k, &v);
    EXPECT_EQ(*static_cast<long*>(m.search(&k)), 3);
    m.insert(&k, nullptr);  // a null value zeroes the stored one
    EXPECT_EQ(*static_cast<long*>(m.search(&k)), 0);
}

}  // namespace

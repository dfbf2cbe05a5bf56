#include "base/vector.h"

#include <gtest/gtest.h>

namespace {

TEST(Vector, SetFiveOnEmptyMakesSixWithZerosBefore) {
    Base::Vector inl(24, 0, 0, nullptr);
    long v[3] = {7, 8, 9};
    inl.set(5, v);
    EXPECT_EQ(inl.get_count(), 6u);
    for (unsigned int i = 0; i < 5; ++i) {
        long* e = static_cast<long*>(inl.get(i));
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e[0] | e[1] | e[2], 0);
    }
    EXPECT_EQ(static_cast<long*>(inl.get(5))[2], 9);
    EXPECT_EQ(inl.get(6), nullptr);

    Base::Vector ptr(0, 0, 0, nullptr);
    ptr.set(5, v);
    EXPECT_EQ(ptr.get_count(), 6u);
    for (unsigned int i = 0; i < 5; ++i) EXPECT_EQ(ptr.get(i), nullptr);
    EXPECT_EQ(ptr.get(5), v);
}

// Four elements per block and four blocks per table: 1000 elements cross
// many blocks and tables of the chain.
TEST(Vector, SpansBlocksAndBucketTablesWithoutMoving) {
    Base::Vector vec(8, 4, 1, nullptr);
    long* first = nullptr;
    for (long i = 0; i < 1000; ++i) {
        long* p = static_cast<long*>(vec.set(static_cast<unsigned int>(i), &i));
        if (i == 0) first = p;
    }
    EXPECT_EQ(vec.get(0), first);
    for (unsigned int i = 0; i < 1000; ++i) ASSERT_EQ(*static_cast<long*>(vec.get(i)), i);
    Base::Vector::Iterator it(&vec);
    for (long i = 0; i < 1000; ++i) ASSERT_EQ(*static_cast<long*>(it.next()), i);
    EXPECT_EQ(it.next(), nullptr);
}

TEST(Vector, SetValueStoresTheWordItself) {
    Base::Vector offsets(8, 0, 0, nullptr);
    offsets.set_value(2, reinterpret_cast<void*>(123456UL));
    EXPECT_EQ(offsets.get_count(), 3u);
    EXPECT_EQ(*static_cast<unsigned long*>(offsets.get(0)), 0u);
    EXPECT_EQ(*static_cast<unsigned long*>(offsets.get(2)), 123456u);
    Base::Vector words(0, 0, 0, nullptr);
    words.set_value(0, reinterpret_cast<void*>(42UL));
    EXPECT_EQ(words.get(0), reinterpret_cast<void*>(42UL));
}

TEST(Vector, RecycledBlocksAreReused) {
    Base::Vector vec(8, 4, 1, nullptr);
    for (long i = 0; i < 12; ++i) vec.set(static_cast<unsigned int>(i), &i);
    char* block0 = static_cast<char*>(vec.get(0));
    EXPECT_FALSE(vec.recycle(3));
    EXPECT_TRUE(vec.recycle(100));  // clamped to the last element: blocks 0 and 1
    EXPECT_EQ(vec.get(0), nullptr);
    EXPECT_EQ(vec.get(7), nullptr);
    EXPECT_NE(vec.get(8), nullptr);
    long v = 5;
    char* a = static_cast<char*>(vec.set(12, &v));
    char* b = static_cast<char*>(vec.set(16, &v));
    EXPECT_TRUE(a == block0 || b == block0);
    Base::Vector::Iterator it(&vec);
    EXPECT_EQ(*static_cast<long*>(it.next()), 8);
    // Cleared, the vector starts empty and fills with zeros again.
    vec.clear();
    EXPECT_EQ(vec.get_count(), 0u);
    EXPECT_EQ(vec.get(3), nullptr);
    vec.set(3, &v);
    EXPECT_EQ(*static_cast<long*>(vec.get(0)), 0);
    EXPECT_EQ(*static_cast<long*>(vec.get(3)), 5);
}

}  // namespace

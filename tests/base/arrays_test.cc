// Base::Array and Base::Vector: the same interface over blocks that never
// move, one with a flat block table, the other with chained bucket tables.
#include <gtest/gtest.h>

#include "base/array.h"
#include "base/vector.h"

namespace {

template <class A>
struct Shape;
// Blocks of at least 4096 elements.
template <>
struct Shape<Base::Array> {
    static constexpr unsigned long BLOCK = 4096;
};
// Four elements per block and four blocks per table: a few blocks cross
// tables of the chain.
template <>
struct Shape<Base::Vector> {
    static constexpr unsigned long BLOCK = 4;
};

template <class A>
class BlockArray : public ::testing::Test {};
using Arrays = ::testing::Types<Base::Array, Base::Vector>;
TYPED_TEST_SUITE(BlockArray, Arrays);

TYPED_TEST(BlockArray, SetPastTheCountFillsWithZerosOrNulls) {
    TypeParam inl(24, 0, 0, nullptr);
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

    TypeParam ptr(0, 0, 0, nullptr);
    int x;
    ptr.set(3, &x);
    EXPECT_EQ(ptr.get_count(), 4u);
    typename TypeParam::Iterator it(&ptr);
    for (unsigned int i = 0; i < 3; ++i) {
        EXPECT_EQ(ptr.get(i), nullptr);
        EXPECT_EQ(it.next(), nullptr);
    }
    EXPECT_EQ(ptr.get(3), &x);
    EXPECT_EQ(it.next(), &x);
    EXPECT_EQ(it.next(), nullptr);
    ptr.clear();
    EXPECT_EQ(ptr.get_count(), 0u);
    EXPECT_EQ(ptr.get(3), nullptr);
    ptr.set(0, &x);
    EXPECT_EQ(ptr.get(0), &x);
}

TYPED_TEST(BlockArray, RecycledBlocksAreReusedAndClearStartsOver) {
    const unsigned long b = Shape<TypeParam>::BLOCK;
    TypeParam a(8, b, 1, nullptr);
    for (long i = 0; i < static_cast<long>(3 * b); ++i) a.set(i, &i);
    char* block0 = static_cast<char*>(a.get(0));
    char* block1 = static_cast<char*>(a.get(b));
    EXPECT_FALSE(a.recycle(b - 1));      // nothing before block 0
    EXPECT_TRUE(a.recycle(100 * b));     // clamped to the last element: blocks 0 and 1
    EXPECT_FALSE(a.recycle(2 * b + 1));  // already done
    EXPECT_EQ(a.get(0), nullptr);
    EXPECT_EQ(a.get(2 * b - 1), nullptr);
    EXPECT_NE(a.get(2 * b), nullptr);
    typename TypeParam::Iterator it(&a);
    EXPECT_EQ(*static_cast<long*>(it.next()), static_cast<long>(2 * b));
    long v = 5;
    char* reused = static_cast<char*>(a.set(3 * b, &v));
    EXPECT_TRUE(reused == block0 || reused == block1);
    // Cleared, the array starts empty and fills with zeros again.
    a.clear();
    EXPECT_EQ(a.get_count(), 0u);
    EXPECT_EQ(a.get(3), nullptr);
    a.set(3, &v);
    EXPECT_EQ(*static_cast<long*>(a.get(0)), 0);
    EXPECT_EQ(*static_cast<long*>(a.get(3)), 5);
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

}  // namespace

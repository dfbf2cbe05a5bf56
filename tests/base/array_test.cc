#include "base/array.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

struct Elem {
    long a;
    long b;
    char c;  // 17 bytes, stored in 24
};

TEST(Array, SetPastTheCountFillsWithZerosOrNulls) {
    Base::Array inl(sizeof(Elem), 0, 0, nullptr);
    Elem e{1, 2, 3};
    inl.set(5, &e);
    EXPECT_EQ(inl.get_count(), 6u);
    for (unsigned long i = 0; i < 5; ++i) {
        Elem* z = static_cast<Elem*>(inl.get(i));
        ASSERT_NE(z, nullptr);
        EXPECT_EQ(z->a, 0);
        EXPECT_EQ(z->b, 0);
        EXPECT_EQ(z->c, 0);
    }
    EXPECT_EQ(static_cast<Elem*>(inl.get(5))->b, 2);
    EXPECT_EQ(inl.get(6), nullptr);

    Base::Array ptr(0, 0, 0, nullptr);
    int x;
    ptr.set(3, &x);
    EXPECT_EQ(ptr.get_count(), 4u);
    EXPECT_EQ(ptr.get(0), nullptr);
    EXPECT_EQ(ptr.get(3), &x);
    Base::Array::Iterator it(&ptr);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(it.next(), nullptr);
    EXPECT_EQ(it.next(), &x);
    EXPECT_EQ(it.next(), nullptr);
    ptr.clear();
    EXPECT_EQ(ptr.get_count(), 0u);
    EXPECT_EQ(ptr.get(3), nullptr);
    ptr.set(0, &x);
    EXPECT_EQ(ptr.get(0), &x);
}

TEST(Array, ElementsNeverMoveAcrossBlocks) {
    Base::Array a(8, 4096, 1, nullptr);
    long* first = nullptr;
    for (long i = 0; i < 3 * 4096 + 5; ++i) {
        long* p = static_cast<long*>(a.set(i, &i));
        if (i == 0) first = p;
    }
    EXPECT_EQ(a.get(0), first);
    for (long i = 0; i < 3 * 4096 + 5; ++i) ASSERT_EQ(*static_cast<long*>(a.get(i)), i);
    // Overwriting below the count keeps the count.
    long v = -1;
    a.set(4096, &v);
    EXPECT_EQ(*static_cast<long*>(a.get(4096)), -1);
    EXPECT_EQ(a.get_count(), 3u * 4096 + 5);
}

TEST(Array, RecycledBlocksAreReusedForNewElements) {
    Base::Array a(8, 4096, 1, nullptr);
    for (long i = 0; i < 3 * 4096; ++i) a.set(i, &i);
    char* block0 = static_cast<char*>(a.get(0));
    char* block1 = static_cast<char*>(a.get(4096));
    EXPECT_FALSE(a.recycle(4095));  // nothing before block 0
    EXPECT_TRUE(a.recycle(2 * 4096 + 1));
    EXPECT_EQ(a.get(0), nullptr);
    EXPECT_EQ(a.get(4096), nullptr);
    EXPECT_NE(a.get(2 * 4096), nullptr);
    EXPECT_FALSE(a.recycle(2 * 4096 + 1));  // already done
    long v = 9;
    char* reused = static_cast<char*>(a.set(3 * 4096, &v));
    EXPECT_TRUE(reused == block0 || reused == block1);
}

}  // namespace

#include "base/block_mem.h"

#include <gtest/gtest.h>
#include <string.h>

#include <vector>

namespace {

TEST(BlockMem, OneBlockPerLargeRequestAndFirstBlockReusedWhenReleased) {
    Base::BlockMem m(4096, 4096, 3, nullptr, false);
    char* a = static_cast<char*>(m.alloc(3000));
    char* b = static_cast<char*>(m.alloc(3000));
    char* c = static_cast<char*>(m.alloc(3000));
    // Each request in its own block: no two within 4096 bytes of each other's
    // block start in a way that would share a block.
    EXPECT_TRUE(b >= a + 3000 || b + 3000 <= a);
    EXPECT_TRUE(c >= b + 3000 || c + 3000 <= b);
    m.free(a, 3000);
    char* d = static_cast<char*>(m.alloc(3000));
    EXPECT_EQ(d, a);
    // b's block is not released: the next request needs a new block.
    char* e = static_cast<char*>(m.alloc(3000));
    EXPECT_NE(e, b);
    EXPECT_NE(e, c);
    // A partly released oldest block is not reused.
    m.free(d, 2000);
    EXPECT_NE(m.alloc(3000), d);
}

TEST(BlockMem, AlignsBlocksAndServesOversizedRequests) {
    Base::Memory source(1 << 16, 1 << 16);
    source.alloc(3);  // leave the source unaligned
    Base::BlockMem m(100, 100, 6, &source, false);
    char* a = static_cast<char*>(m.alloc(10));
    EXPECT_EQ(reinterpret_cast<unsigned long>(a) % 64, 0u);
    char* big = static_cast<char*>(m.alloc(1000));
    EXPECT_EQ(reinterpret_cast<unsigned long>(big) % 64, 0u);
    memset(big, 7, 1000);
}

TEST(BlockMem, ClearStartsOverAtTheFirstBlockAndCommitKeepsWhatWasWritten) {
    Base::BlockMem m(1024, 1024, 3, nullptr, false);
    char* a = static_cast<char*>(m.alloc(1000));
    char* b = static_cast<char*>(m.alloc(1000));
    m.clear();
    EXPECT_EQ(m.alloc(1000), a);
    EXPECT_EQ(m.alloc(1000), b);  // the second block is reused, not a new one
    // Commit keeps only what was written of the last request.
    m.clear();
    char* p = static_cast<char*>(m.alloc(500));
    m.commit(p + 20);
    EXPECT_EQ(m.alloc(8), p + 20);
}

TEST(BlockMem, ReserveAppendsBlocksUsedLater) {
    Base::BlockMem m(1024, 1024, 3, nullptr, false);
    m.reserve(2);
    char* a = static_cast<char*>(m.alloc(1000));
    char* b = static_cast<char*>(m.alloc(1000));
    EXPECT_NE(a, b);
    unsigned long first, next;
    m.get_size(first, next);
    EXPECT_EQ(first, 1024u);
    EXPECT_EQ(next, 1024u);
    Base::BlockMem none(0, 1024, 3, nullptr, false);
    none.reserve(3);  // nothing with a zero size
    none.alloc(8);
}

TEST(BlockMem, ReaderWalksWrittenBytesAcrossBlocks) {
    Base::BlockMem m(64, 64, 3, nullptr, true);
    Base::BlockMem::Reader r(&m);
    EXPECT_EQ(r.read(8), nullptr);
    std::vector<char*> written;
    for (int i = 0; i < 10; ++i) {
        char* p = static_cast<char*>(m.alloc(24));
        memset(p, 'a' + i, 24);
        written.push_back(p);
    }
    for (int i = 0; i < 10; ++i) {
        char* p = static_cast<char*>(r.read(24));
        ASSERT_EQ(p, written[i]) << i;
        EXPECT_EQ(p[0], 'a' + i);
    }
    EXPECT_EQ(r.read(24), nullptr);
    // Read blocks were released: the oldest is reused for new data.
    char* again = static_cast<char*>(m.alloc(24));
    EXPECT_EQ(again, written[0]);
}

}  // namespace

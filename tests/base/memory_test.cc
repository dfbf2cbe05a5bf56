#include "base/memory.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

#include "base/block_mem.h"

namespace {

#ifdef __SANITIZE_THREAD__
constexpr long kPerThread = 100000;
#else
constexpr long kPerThread = 500000;
#endif

// Small and large sizes, the large ones after a large heap block was dirtied
// and freed (where calloc would hand back recycled memory): every byte reads
// zero, all of it can be written, and freeing with the size works.
TEST(MemoryHelpers, AllocZeroedGivesZerosAtEverySize) {
    void* dirty = malloc(9UL << 20);
    ASSERT_NE(dirty, nullptr);
    memset(dirty, 0xa5, 9UL << 20);
    free(dirty);
    for (unsigned long bytes : {1UL, 4096UL, (2UL << 20) - 8, 2UL << 20, 8UL << 20}) {
        unsigned char* p = static_cast<unsigned char*>(Base::alloc_zeroed(bytes));
        ASSERT_NE(p, nullptr) << bytes;
        EXPECT_EQ(std::count(p, p + bytes, 0), static_cast<long>(bytes)) << bytes;
        memset(p, 0xff, bytes);
        Base::free_zeroed(p, bytes);
    }
    Base::free_zeroed(nullptr, 8UL << 20);
}

std::pair<unsigned long, unsigned long> size_of(const Base::Memory& m) {
    unsigned long capacity, used;
    m.get_size(capacity, used);
    return {capacity, used};
}

// Requests are bumped within a block; one that does not fit moves to a new
// block of at least the minimum size; clear starts over in the same blocks.
TEST(Memory, BumpsWithinBlocksAndClearReusesThem) {
    Base::Memory m(64, 1000);
    EXPECT_EQ(size_of(m), std::make_pair(64UL, 0UL));
    char* a = static_cast<char*>(m.alloc(16));
    EXPECT_EQ(a[0], 0);  // the first block is zeroed
    char* b = static_cast<char*>(m.alloc(44));
    EXPECT_EQ(b, a + 16);
    char* c = static_cast<char*>(m.alloc(8));  // does not fit the 64-byte block
    EXPECT_TRUE(c < a || c >= a + 64);
    EXPECT_EQ(m.alloc(8), c + 8);
    char* big = static_cast<char*>(m.alloc(5000));  // larger than min_block
    memset(big, 1, 5000);
    EXPECT_EQ(size_of(m), std::make_pair(64UL + 1000 + 5000, 60UL + 8 + 8 + 5000));
    m.clear();
    EXPECT_EQ(size_of(m).second, 0u);
    EXPECT_EQ(m.alloc(60), a);
    EXPECT_EQ(size_of(m).first, 64UL + 1000 + 5000);
}

// Threads allocate small ranges and fill them with their own byte; any
// overlap shows up as a foreign byte or as overlapping sorted ranges.
TEST(Memory, ConcurrentAllocationsNeverOverlap) {
    constexpr int kThreads = 3;
    Base::Memory m(1 << 16, 1 << 16);
    std::vector<std::vector<std::pair<char*, unsigned long>>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            got[t].reserve(kPerThread);
            for (long i = 0; i < kPerThread; ++i) {
                unsigned long size = 8 + (i * 7 + t) % 33;
                char* p = static_cast<char*>(m.alloc(size));
                memset(p, t + 1, size);
                got[t].emplace_back(p, size);
            }
        });
    }
    for (auto& th : threads) th.join();
    std::vector<std::pair<char*, unsigned long>> all;
    long foreign = 0;
    for (int t = 0; t < kThreads; ++t) {
        for (auto& r : got[t]) {
            for (unsigned long k = 0; k < r.second; ++k) foreign += r.first[k] != t + 1;
            all.push_back(r);
        }
    }
    EXPECT_EQ(foreign, 0);
    std::sort(all.begin(), all.end());
    long overlaps = 0;
    for (size_t i = 1; i < all.size(); ++i)
        overlaps += all[i - 1].first + all[i - 1].second > all[i].first;
    EXPECT_EQ(overlaps, 0);
}

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

// Reserved blocks are taken from the source at once and serve later
// requests without taking more; with a zero block size nothing is reserved.
TEST(BlockMem, ReserveTakesBlocksUpFrontForLaterRequests) {
    Base::Memory source(1 << 16, 1 << 16);
    Base::BlockMem m(1024, 1024, 3, &source, false);
    m.reserve(2);
    unsigned long reserved = size_of(source).second;
    EXPECT_GE(reserved, 2048u);
    EXPECT_NE(m.alloc(1000), m.alloc(1000));
    Base::BlockMem none(0, 1024, 3, &source, false);
    none.reserve(3);
    EXPECT_EQ(size_of(source).second, reserved);
    unsigned long first, next;
    m.get_size(first, next);
    EXPECT_EQ(std::make_pair(first, next), std::make_pair(1024UL, 1024UL));
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

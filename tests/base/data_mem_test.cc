#include "base/data_mem.h"

#include <gtest/gtest.h>
#include <string.h>

#include <vector>

namespace {

constexpr unsigned int kMiB = 1048576;
constexpr unsigned short kObj = 60000;  // 17 objects (60004 bytes each) per 1 MiB block
constexpr unsigned long kPerBlock = kMiB / (kObj + 4);

// Writes object i: its length varies with i and every byte says i.
unsigned short write_object(Base::DataMem& m, unsigned long i) {
    unsigned short len = static_cast<unsigned short>(kObj - (i % 7));
    char* p = static_cast<char*>(m.alloc(kObj));
    memset(p, static_cast<int>(i & 0x7F), len);
    EXPECT_EQ(m.commit(len), i);
    return len;
}

// Reads object i back through the directory and the block's offset table.
bool check_object(const Base::DataMem& m, unsigned long i) {
    const Base::DataMem::BlockOffset* e = m.get_block_offset(i);
    if (!e) return false;
    const Base::DataMem::Block* b = e->block;
    unsigned long k = i - b->first;
    if (k >= b->get_count()) return false;
    unsigned int start = b->start_offset(k), end = b->end_offset(k);
    if (end - start != static_cast<unsigned int>(kObj - (i % 7))) return false;
    for (unsigned int j = start; j < end; ++j)
        if (b->data[j] != static_cast<char>(i & 0x7F)) return false;
    return true;
}

TEST(DataMem, ObjectsGrowUpAndOffsetsGrowDownFromTheBlockEnd) {
    Base::DataMem m(kMiB, kMiB, 3, nullptr);
    char* a = static_cast<char*>(m.alloc(10));
    memcpy(a, "0123456789", 10);
    EXPECT_EQ(m.commit(10), 0u);
    char* b = static_cast<char*>(m.alloc(100));
    EXPECT_EQ(b, a + 10);  // packed without padding
    EXPECT_EQ(m.commit(3), 1u);
    const Base::DataMem::Block* blk = m.get_first_block();
    EXPECT_EQ(reinterpret_cast<unsigned long>(blk->data) % 8, 0u);
    const unsigned int* table = reinterpret_cast<const unsigned int*>(blk->end);
    // Offsets table (from the end), used bytes, block count, store count.
    EXPECT_EQ((std::vector<unsigned long>{table[-1], table[-2], blk->get_used(), blk->get_count(),
                                          m.get_count()}),
              (std::vector<unsigned long>{10, 13, 13, 2, 2}));
    EXPECT_EQ(m.get_block_offset(2), nullptr);
    // Smaller block sizes are raised to one mebibyte.
    Base::DataMem small(4096, 0, 3, nullptr);
    unsigned int first, next;
    small.get_size(first, next);
    EXPECT_EQ(std::make_pair(first, next), std::make_pair(kMiB, kMiB));
}

unsigned long chain_length(const Base::DataMem& m) {
    unsigned long n = 0;
    for (const Base::DataMem::Block* b = m.get_first_block(); b; b = b->get_next()) ++n;
    return n;
}

// Hundreds of rounds of filling a block and recycling behind it, with the
// target given in every form (past the count, inside the current block, at
// its first object), with readers marking blocks themselves and with
// truncates: every round must release exactly the blocks before the one
// kept, so the writer keeps cycling through three blocks.
TEST(DataMem, RecyclingKeepsProgressingThroughManyBlockReuses) {
    Base::DataMem m(kMiB, kMiB, 3, nullptr);
    unsigned long next = 0;
    for (unsigned long round = 0; round < 200; ++round) {
        unsigned long first = next;
        for (unsigned long k = 0; k < kPerBlock; ++k) write_object(m, next++);
        ASSERT_EQ(m.get_current_block()->first, first) << round;
        if (round % 7 == 5) {
            // Cut back inside the current block and write the objects again.
            ASSERT_TRUE(m.truncate(next - 3));
            for (unsigned long i = next - 3; i < next; ++i) write_object(m, i);
        }
        if (round >= 2 && round % 4 == 3) {
            // Two readers that left the block before the kept one mark it:
            // it counts once.
            Base::DataMem::Block* left = m.get_block_offset(first - 2 * kPerBlock)->block;
            m.recycle_block(left);
            m.recycle_block(left);
        }
        unsigned long target = round % 4 == 0 ? ~0UL : round % 4 == 1 ? next - 1 : first;
        bool released = m.recycle(target);
        EXPECT_EQ(released, round >= 2 && round % 4 != 3) << round;
        unsigned long kept = round >= 1 ? first - kPerBlock : 0;
        ASSERT_EQ(m.get_recycle_count(), kept) << round;
        EXPECT_FALSE(m.recycle(first - 1));  // a target already behind
        EXPECT_FALSE(m.recycle(0));
        EXPECT_LE(chain_length(m), 3u) << round;
        EXPECT_TRUE(check_object(m, kept)) << round;
        EXPECT_TRUE(check_object(m, next - 1)) << round;
    }
    EXPECT_EQ(m.get_block_offset(0), nullptr);  // long since reused
}

TEST(DataMem, FreeRestoresAdjacentBlocksToTheMemoryAsOnePiece) {
    Base::Memory memory(8 * kMiB, 8 * kMiB);
    Base::DataMem m(kMiB, kMiB, 3, &memory);
    // Block 0, then the directory's blocks, then blocks 1 and 2 side by side.
    for (unsigned long i = 0; i < 3 * kPerBlock; ++i) write_object(m, i);
    m.free();
    EXPECT_EQ(m.get_count(), 0u);
    unsigned long capacity, used;
    memory.get_size(capacity, used);
    memory.alloc(capacity - used);  // exhaust the Memory's own block
    // Blocks 1 and 2 came back as one piece of more than 2 MiB: a request
    // of that size is served without growing the Memory.
    EXPECT_NE(memory.alloc(2 * kMiB + 64), nullptr);
    unsigned long capacity_after;
    memory.get_size(capacity_after, used);
    EXPECT_EQ(capacity_after, capacity);
    // The store starts over after free.
    EXPECT_EQ(m.get_first_block(), nullptr);
    write_object(m, 0);
    EXPECT_TRUE(check_object(m, 0));
}

}  // namespace

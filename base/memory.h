#ifndef XELMD_BASE_MEMORY_H
#define XELMD_BASE_MEMORY_H

#include "base/lf_stack.h"

namespace Base {

// Bytes to add to value to reach the next multiple of 2^bits (0 if aligned).
inline unsigned long align_addition(unsigned long value, int bits) {
    unsigned long mask = (1UL << bits) - 1;
    return (~value + 1) & mask;
}

// Exponent of the smallest power of base not below value; 1 for values
// below 2. With power given, stores that power there.
int ceil_log(unsigned long value, unsigned long base, unsigned long* power);

// Zero-filled memory for large sparse tables: 2 MiB or more gets an
// anonymous mapping of its own, whose pages stay untouched (and out of the
// resident size) until written. From calloc a table is only that lazy while
// the allocator maps it afresh; once a large block has been freed in the
// process, calloc serves the next one from its heap and writes every byte
// (8 MiB for the market-data cache and for the reactor's timer heap at every
// Init after the first). free_zeroed takes the size given to alloc_zeroed.
// Null when the memory cannot be had.
void* alloc_zeroed(unsigned long bytes);
void free_zeroed(void* data, unsigned long bytes);

// Bump allocator over large blocks; memory is handed back only as a whole
// (clear) or when the Memory is destroyed. alloc: any thread, lock-free;
// restore: any thread; clear and the destructor need exclusive use.
class Memory {
  public:
    // The first block (block_size bytes, zeroed) is made at once; later
    // blocks are at least min_block bytes.
    Memory(unsigned long block_size, unsigned long min_block);
    virtual ~Memory();
    Memory(const Memory&) = delete;
    Memory& operator=(const Memory&) = delete;

    // size bytes, not aligned beyond what earlier sizes leave.
    void* alloc(unsigned long size);
    // Adds a free block: the caller's memory when data is given (never freed
    // here), else a new block of size rounded up to 8.
    void restore(void* data, unsigned long size);
    // Every block becomes free again; pointers handed out become invalid.
    void clear();
    // Statistics: exact only when one thread allocates.
    virtual void get_size(unsigned long& capacity, unsigned long& used) const;

  private:
    // 32 bytes. used is the bump offset, advanced by compare-and-swap.
    struct Block {
        bool external;
        char* data;
        unsigned long size;
        unsigned long used;
    };

    Block* new_block(unsigned long size);
    Block* take_free(unsigned long size);
    void* bump(Block* block, unsigned long size);
    static void add(unsigned long* counter, unsigned long n);

    unsigned long capacity_;
    unsigned long used_;
    unsigned long block_size_;
    unsigned long min_block_;
    // Top of active_ is the block being bumped.
    LFStack active_;
    LFStack free_;
};

}  // namespace Base

#endif  // XELMD_BASE_MEMORY_H

#ifndef XELMD_BASE_BLOCK_MEM_H
#define XELMD_BASE_BLOCK_MEM_H

#include "base/memory.h"

namespace Base {

// Bump allocator over a chain of blocks taken from a Memory or the heap;
// clear starts over in the same blocks and nothing handed out ever moves.
// One thread at a time.
class BlockMem {
  public:
    // Blocks start on 2^align boundaries. With a source, blocks are carved
    // from it and stay with it; otherwise they come from the heap and are
    // freed by the destructor.
    BlockMem(unsigned long first, unsigned long next, unsigned char align, Memory* source);
    ~BlockMem();
    BlockMem(const BlockMem&) = delete;
    BlockMem& operator=(const BlockMem&) = delete;

    // size bytes from the current block, or from the next one when they do
    // not fit; never null.
    void* alloc(unsigned long size);
    // Starts over at the first block; every pointer handed out is invalid.
    void clear();

  private:
    // 40 bytes, placed in front of the block's data.
    struct Block {
        void* allocation;  // heap blocks: what to free; null when carved
        char* data;
        unsigned long size;
        unsigned long used;
        Block* next;
    };

    Block* make_block(unsigned long size);
    void* bump(unsigned long size);

    unsigned long first_size_;
    unsigned long next_size_;
    unsigned char align_;
    Memory* source_;
    Block* first_;
    Block* current_;
};

}  // namespace Base

#endif  // XELMD_BASE_BLOCK_MEM_H

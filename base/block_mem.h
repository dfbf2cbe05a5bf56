#ifndef XELMD_BASE_BLOCK_MEM_H
#define XELMD_BASE_BLOCK_MEM_H

#include "base/memory.h"

namespace Base {

// Bump allocator over a chain of blocks taken from a Memory or the heap.
// Blocks whose bytes have all been released are reused in a ring, oldest
// first; nothing handed out ever moves. One thread at a time.
class BlockMem {
  public:
    // Blocks start on 2^align boundaries. With a source, blocks are carved
    // from it and stay with it; otherwise they come from the heap and are
    // freed by the destructor.
    BlockMem(unsigned long first, unsigned long next, unsigned char align, Memory* source,
             bool release_on_read);
    ~BlockMem();
    BlockMem(const BlockMem&) = delete;
    BlockMem& operator=(const BlockMem&) = delete;

    // size bytes from the current block, or from the next one when they do
    // not fit; never null.
    void* alloc(unsigned long size);
    // Keeps only the bytes of the current block below end: a writer reserves
    // a maximum and keeps what it wrote.
    void commit(void* end);
    // Releases size bytes at p; a block whose bytes are all released is
    // reused once it is the oldest.
    void free(void* p, unsigned long size);
    // Starts over at the first block; every pointer handed out is invalid.
    void clear();
    // Appends blocks of the next size (nothing when either size is 0).
    void reserve(int blocks);
    void get_size(unsigned long& first, unsigned long& next) const;

    // Walks the bytes written so far, block by block. One thread at a time,
    // the writer's thread included.
    class Reader {
      public:
        explicit Reader(const BlockMem* mem);
        // The next n bytes, or null when they are not written yet. A read
        // that does not fit the rest of a block continues in the next one.
        void* read(unsigned long n);

      private:
        const BlockMem* mem_;
        void* block_;
        unsigned long offset_;
    };

  private:
    // 48 bytes, placed in front of the block's data.
    struct Block {
        void* allocation;  // heap blocks: what to free; null when carved
        char* data;
        unsigned long size;
        unsigned long used;
        unsigned long released;
        Block* next;
    };

    Block* make_block(unsigned long size);
    void recycle_oldest();
    void* bump(unsigned long size);

    unsigned long first_size_;
    unsigned long next_size_;
    unsigned char align_;
    Memory* source_;
    bool release_on_read_;
    Block* first_;
    Block* current_;
};

}  // namespace Base

#endif  // XELMD_BASE_BLOCK_MEM_H

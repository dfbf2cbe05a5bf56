#ifndef XELMD_BASE_ARRAY_H
#define XELMD_BASE_ARRAY_H

#include "base/block_mem.h"
#include "base/lf_stack.h"

namespace Base {

// Segmented array indexed through one flat table of 1,048,576 block
// pointers, so elements never move. Elements are pointers (element size 0)
// or inline bytes (size rounded up to 8). One thread at a time.
class Array {
  public:
    static const unsigned long TABLE_BLOCKS = 1UL << 20;

    // Blocks hold 2^k elements, at least 4096 (block_elements 0: 4096); the
    // first block allocation holds first_blocks blocks. memory may be null.
    Array(int element_size, int block_elements, int first_blocks, Memory* memory);
    ~Array();
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;

    // Below the count: overwrites. At or past it: appends zero elements (or
    // nulls) up to i, then value. Inline elements copy element-size bytes
    // from value (zeros for null). Returns the element's address, or null
    // past the table's reach.
    void* set(unsigned long i, void* value);
    // The element's address (inline) or the stored pointer; null at or past
    // the count or in a recycled block.
    void* get(unsigned long i) const;
    unsigned long get_count() const { return count_; }
    // Drops the elements from n on (n below the count).
    void truncate(unsigned long n);
    void clear();
    // Hands every not yet recycled block wholly before the block of
    // min(i, count - 1) over for reuse; true when any was.
    bool recycle(unsigned long i);

    class Iterator {
      public:
        explicit Iterator(const Array* array);
        // Elements in index order; null at the end.
        void* next();

      private:
        const Array* array_;
        unsigned long index_;
    };

  private:
    char* element(unsigned long i) const;
    char* slot(unsigned long i);
    void store(char* at, const void* value);

    unsigned long element_size_;  // 0: pointers
    unsigned long stride_;
    int shift_;
    unsigned long mask_;
    char** table_;
    BlockMem* blocks_;
    LFStack* free_blocks_;
    unsigned long block_bytes_;
    unsigned long count_;
    unsigned long recycled_;  // leading blocks handed over
    unsigned long used_blocks_;
};

}  // namespace Base

#endif  // XELMD_BASE_ARRAY_H

#ifndef XELMD_BASE_VECTOR_H
#define XELMD_BASE_VECTOR_H

#include "base/block_mem.h"
#include "base/lf_stack.h"

namespace Base {

// Segmented array without a size limit: a chain of bucket tables, each
// indexing 2^k blocks of 2^k elements, so elements never move. Elements are
// pointers (element size 0) or inline bytes (size rounded up to 8).
// One writer thread; get, get_count and Iterator may also run on other
// threads while it appends: an appended element, and the tables and blocks
// leading to it, are in place before the count that covers it is published.
// Overwrites, clear and recycle need readers of those elements quiescent.
class Vector {
  public:
    // block_elements is raised to a power of two (0: 1024); the first block
    // allocation holds first_blocks blocks. memory may be null.
    Vector(int element_size, int block_elements, int first_blocks, Memory* memory);
    ~Vector();
    Vector(const Vector&) = delete;
    Vector& operator=(const Vector&) = delete;

    // The element's address (inline) or the stored pointer; null at or past
    // the count or in a recycled block.
    void* get(unsigned int i) const;
    // Below the count: overwrites. At or past it: appends zero elements (or
    // nulls) up to i, then value. Inline elements copy element-size bytes
    // from value (zeros for null). Returns the element's address.
    void* set(unsigned int i, void* value);
    // Stores the pointer-sized word value itself (an offset, a count) into
    // element i, zero-filling the rest of an inline element.
    void* set_value(unsigned int i, void* value);
    // Acquire: pairs with the release in publish(); elements below the
    // count are readable.
    unsigned int get_count() const { return __atomic_load_n(&count_, __ATOMIC_ACQUIRE); }
    void clear();
    // Hands every not yet recycled block wholly before the block of
    // min(i, count - 1) over for reuse; true when any was.
    bool recycle(unsigned int i);

    class Iterator {
      public:
        explicit Iterator(const Vector* vector);
        // Elements in index order; null at the end.
        void* next();

      private:
        const Vector* vector_;
        unsigned int index_;
    };

  private:
    // A bucket table: 2^k block pointers, then the link to the next table.
    char** table(unsigned long t, bool create) const;
    char* element(unsigned int i) const;
    char* slot(unsigned int i);
    char* prepare(unsigned int i);
    void publish(unsigned int i);

    unsigned long element_size_;  // 0: pointers
    unsigned long stride_;
    int shift_;
    unsigned long mask_;
    unsigned long block_bytes_;
    char** first_table_;
    BlockMem* blocks_;
    BlockMem* tables_;
    LFStack* free_blocks_;
    unsigned int count_;
    unsigned long recycled_;  // leading blocks handed over
};

}  // namespace Base

#endif  // XELMD_BASE_VECTOR_H

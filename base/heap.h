#ifndef XELMD_BASE_HEAP_H
#define XELMD_BASE_HEAP_H

#include "base/array.h"

namespace Base {

// Binary heap in an Array; index 0 is the top, and compare(a, b) > 0 puts
// a above b. compare sees the stored pointers (element size 0) or the
// elements' addresses (inline elements). Equal elements keep no particular
// order. One thread at a time.
class Heap {
  public:
    Heap(int (*compare)(const void*, const void*), int element_size, int block_elements,
         int first_blocks, Memory* memory);
    ~Heap();
    Heap(const Heap&) = delete;
    Heap& operator=(const Heap&) = delete;

    // Pointer heaps store e; inline heaps copy the element at e.
    void push(void* e);
    // Removes the top. Pointer heaps return the removed pointer; inline
    // heaps return a copy of the removed element, valid until the next
    // pop. Null when empty.
    void* pop();
    // The top element (as get of the array), or null when empty.
    void* top() const { return array_.get(0); }
    unsigned long get_count() const { return array_.get_count(); }
    void clear();

  private:
    void* at(unsigned long i) const { return array_.get(i); }
    void sift_up(unsigned long i);
    void sift_down(unsigned long i);
    void swap(unsigned long i, unsigned long j);

    Array array_;
    int (*compare_)(const void*, const void*);
    unsigned long element_size_;  // 0: pointers
    char* scratch_;               // one element, for swaps
    char* removed_;               // the element last popped (inline heaps)
};

}  // namespace Base

#endif  // XELMD_BASE_HEAP_H

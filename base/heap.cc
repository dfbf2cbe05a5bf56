#include "base/heap.h"

#include <stdlib.h>
#include <string.h>

namespace Base {

Heap::Heap(int (*compare)(const void*, const void*), int element_size, int block_elements,
           int first_blocks, Memory* memory)
    : array_(element_size, block_elements, first_blocks, memory), compare_(compare) {
    element_size_ = element_size > 0 ? element_size + align_addition(element_size, 3) : 0;
    unsigned long bytes = element_size_ ? element_size_ : sizeof(void*);
    scratch_ = static_cast<char*>(malloc(2 * bytes));
    if (!scratch_) abort();
    removed_ = scratch_ + bytes;
}

Heap::~Heap() {
    free(scratch_);
}

void Heap::swap(unsigned long i, unsigned long j) {
    if (!element_size_) {
        void* a = at(i);
        array_.set(i, at(j));
        array_.set(j, a);
        return;
    }
    memcpy(scratch_, at(i), element_size_);
    array_.set(i, at(j));
    array_.set(j, scratch_);
}

void Heap::sift_up(unsigned long i) {
    while (i > 0) {
        unsigned long parent = (i - 1) / 2;
        if (compare_(at(i), at(parent)) <= 0) return;
        swap(i, parent);
        i = parent;
    }
}

void Heap::sift_down(unsigned long i) {
    unsigned long n = get_count();
    for (;;) {
        unsigned long left = 2 * i + 1;
        if (left >= n) return;
        unsigned long right = left + 1;
        unsigned long child = left;
        if (right < n && compare_(at(left), at(right)) <= 0) child = right;
        if (compare_(at(child), at(i)) <= 0) return;
        swap(i, child);
        i = child;
    }
}

void Heap::push(void* e) {
    unsigned long n = get_count();
    array_.set(n, e);
    sift_up(n);
}

void* Heap::pop() {
    unsigned long n = get_count();
    if (n == 0) return nullptr;
    void* result;
    if (element_size_) {
        memcpy(removed_, at(0), element_size_);
        result = removed_;
    } else {
        result = at(0);
    }
    if (n > 1) array_.set(0, at(n - 1));
    array_.truncate(n - 1);
    sift_down(0);
    return result;
}

void Heap::clear() {
    array_.clear();
}

}  // namespace Base

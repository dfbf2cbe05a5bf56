#include "base/array.h"

#include <stdlib.h>
#include <string.h>

namespace Base {

Array::Array(int element_size, int block_elements, int first_blocks, Memory* memory)
    : count_(0), recycled_(0), used_blocks_(0) {
    element_size_ = element_size > 0 ? element_size + align_addition(element_size, 3) : 0;
    stride_ = element_size_ ? element_size_ : sizeof(void*);
    shift_ = ceil_log(block_elements > 0 ? block_elements : 4096, 2, nullptr);
    if (shift_ < 12) shift_ = 12;
    mask_ = (1UL << shift_) - 1;
    block_bytes_ = stride_ << shift_;
    table_ = static_cast<char**>(alloc_zeroed(TABLE_BLOCKS * sizeof(char*)));
    if (!table_) abort();
    unsigned long first = (first_blocks > 0 ? first_blocks : 1) * block_bytes_;
    blocks_ = new BlockMem(first, block_bytes_, 3, memory, false);
    free_blocks_ = new LFStack(0);
}

Array::~Array() {
    delete free_blocks_;
    delete blocks_;
    free_zeroed(table_, TABLE_BLOCKS * sizeof(char*));
}

char* Array::element(unsigned long i) const {
    char* block = table_[i >> shift_];
    return block ? block + (i & mask_) * stride_ : nullptr;
}

// The slot of i, making its block when missing (a recycled block first).
char* Array::slot(unsigned long i) {
    unsigned long b = i >> shift_;
    if (b >= TABLE_BLOCKS) return nullptr;
    if (!table_[b]) {
        char* block = static_cast<char*>(free_blocks_->pop());
        if (!block) block = static_cast<char*>(blocks_->alloc(block_bytes_));
        table_[b] = block;
        if (b + 1 > used_blocks_) used_blocks_ = b + 1;
    }
    return table_[b] + (i & mask_) * stride_;
}

void Array::store(char* at, const void* value) {
    if (!element_size_) {
        memcpy(at, &value, sizeof(void*));
    } else if (value) {
        memmove(at, value, element_size_);
    } else {
        memset(at, 0, element_size_);
    }
}

void* Array::set(unsigned long i, void* value) {
    if (i < count_) {
        char* at = element(i);
        if (!at) return nullptr;  // recycled
        store(at, value);
        return at;
    }
    if ((i >> shift_) >= TABLE_BLOCKS) return nullptr;
    for (; count_ < i; ++count_) store(slot(count_), nullptr);
    char* at = slot(i);
    store(at, value);
    count_ = i + 1;
    return at;
}

void* Array::get(unsigned long i) const {
    if (i >= count_) return nullptr;
    char* at = element(i);
    if (!at || element_size_) return at;
    void* p;
    memcpy(&p, at, sizeof(void*));
    return p;
}

void Array::truncate(unsigned long n) {
    if (n < count_) count_ = n;
}

void Array::clear() {
    memset(table_, 0, used_blocks_ * sizeof(char*));
    used_blocks_ = 0;
    count_ = 0;
    recycled_ = 0;
    free_blocks_->clear();
    blocks_->clear();
}

bool Array::recycle(unsigned long i) {
    if (count_ == 0) return false;
    unsigned long last = i < count_ - 1 ? i : count_ - 1;
    unsigned long upto = last >> shift_;
    bool any = false;
    for (; recycled_ < upto; ++recycled_) {
        if (!table_[recycled_]) continue;
        free_blocks_->push(table_[recycled_]);
        table_[recycled_] = nullptr;
        any = true;
    }
    return any;
}

Array::Iterator::Iterator(const Array* array) : array_(array), index_(0) {}

void* Array::Iterator::next() {
    while (index_ < array_->count_) {
        unsigned long i = index_++;
        if (array_->element(i)) return array_->get(i);
    }
    return nullptr;
}

}  // namespace Base

#include "base/vector.h"

#include <string.h>

namespace Base {

Vector::Vector(int element_size, int block_elements, int first_blocks, Memory* memory)
    : first_table_(nullptr), count_(0), recycled_(0) {
    element_size_ = element_size > 0 ? element_size + align_addition(element_size, 3) : 0;
    stride_ = element_size_ ? element_size_ : sizeof(void*);
    shift_ = ceil_log(block_elements > 0 ? block_elements : 1024, 2, nullptr);
    mask_ = (1UL << shift_) - 1;
    block_bytes_ = stride_ << shift_;
    unsigned long first = (first_blocks > 0 ? first_blocks : 1) * block_bytes_;
    blocks_ = new BlockMem(first, block_bytes_, 3, memory, false);
    unsigned long table_bytes = ((1UL << shift_) + 1) * sizeof(char*);
    tables_ = new BlockMem(table_bytes, table_bytes, 3, memory, false);
    free_blocks_ = new LFStack(0);
}

Vector::~Vector() {
    delete free_blocks_;
    delete tables_;
    delete blocks_;
}

char** Vector::table(unsigned long t, bool create) const {
    char*** link = const_cast<char***>(&first_table_);
    for (;;) {
        if (!*link) {
            if (!create) return nullptr;
            unsigned long bytes = ((1UL << shift_) + 1) * sizeof(char*);
            *link = static_cast<char**>(tables_->alloc(bytes));
            memset(*link, 0, bytes);
        }
        if (t == 0) return *link;
        link = reinterpret_cast<char***>(&(*link)[1UL << shift_]);
        --t;
    }
}

char* Vector::element(unsigned int i) const {
    char** t = table(static_cast<unsigned long>(i) >> (2 * shift_), false);
    if (!t) return nullptr;
    char* block = t[(i >> shift_) & mask_];
    return block ? block + (i & mask_) * stride_ : nullptr;
}

// The slot of i, making its table and block when missing (a recycled block
// first).
char* Vector::slot(unsigned int i) {
    char** t = table(static_cast<unsigned long>(i) >> (2 * shift_), true);
    char*& block = t[(i >> shift_) & mask_];
    if (!block) {
        block = static_cast<char*>(free_blocks_->pop());
        if (!block) block = static_cast<char*>(blocks_->alloc(block_bytes_));
    }
    return block + (i & mask_) * stride_;
}

// The element i, zero-filling the elements between the count and i when
// past it; the count moves only in publish(). Null when i lies in a
// recycled block.
char* Vector::prepare(unsigned int i) {
    // Relaxed: only this thread writes the count.
    unsigned int count = __atomic_load_n(&count_, __ATOMIC_RELAXED);
    if (i < count) return element(i);
    for (; count < i; ++count) memset(slot(count), 0, stride_);
    return slot(i);
}

// Counts element i once it is written.
void Vector::publish(unsigned int i) {
    // Relaxed load: only this thread writes the count. Release store: a
    // reader that sees the new count sees the elements and their tables.
    if (i >= __atomic_load_n(&count_, __ATOMIC_RELAXED))
        __atomic_store_n(&count_, i + 1, __ATOMIC_RELEASE);
}

void* Vector::set(unsigned int i, void* value) {
    char* at = prepare(i);
    if (!at) return nullptr;
    if (!element_size_) {
        memcpy(at, &value, sizeof(void*));
    } else if (value) {
        memmove(at, value, element_size_);
    } else {
        memset(at, 0, element_size_);
    }
    publish(i);
    return at;
}

void* Vector::set_value(unsigned int i, void* value) {
    char* at = prepare(i);
    if (!at) return nullptr;
    memset(at, 0, stride_);
    memcpy(at, &value, sizeof(void*));
    publish(i);
    return at;
}

void* Vector::get(unsigned int i) const {
    if (i >= get_count()) return nullptr;
    char* at = element(i);
    if (!at || element_size_) return at;
    void* p;
    memcpy(&p, at, sizeof(void*));
    return p;
}

void Vector::clear() {
    // Release: as in publish(); readers are quiescent during a clear.
    __atomic_store_n(&count_, 0, __ATOMIC_RELEASE);
    recycled_ = 0;
    first_table_ = nullptr;
    free_blocks_->clear();
    tables_->clear();
    blocks_->clear();
}

bool Vector::recycle(unsigned int i) {
    // Relaxed: only this thread writes the count.
    unsigned int count = __atomic_load_n(&count_, __ATOMIC_RELAXED);
    if (count == 0) return false;
    unsigned long last = i < count - 1 ? i : count - 1;
    unsigned long upto = last >> shift_;
    bool any = false;
    for (; recycled_ < upto; ++recycled_) {
        char** t = table(recycled_ >> shift_, false);
        if (!t) continue;
        char*& block = t[recycled_ & mask_];
        if (!block) continue;
        free_blocks_->push(block);
        block = nullptr;
        any = true;
    }
    return any;
}

Vector::Iterator::Iterator(const Vector* vector) : vector_(vector), index_(0) {}

void* Vector::Iterator::next() {
    while (index_ < vector_->get_count()) {
        unsigned int i = index_++;
        if (vector_->element(i)) return vector_->get(i);
    }
    return nullptr;
}

}  // namespace Base

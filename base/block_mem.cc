#include "base/block_mem.h"

#include <stdlib.h>

namespace Base {

BlockMem::BlockMem(unsigned long first, unsigned long next, unsigned char align, Memory* source,
                   bool release_on_read)
    : first_size_(first),
      next_size_(next),
      align_(align < 3 ? 3 : align),
      source_(source),
      release_on_read_(release_on_read),
      first_(nullptr),
      current_(nullptr) {}

BlockMem::~BlockMem() {
    Block* b = first_;
    while (b) {
        Block* next = b->next;
        if (b->allocation) ::free(b->allocation);
        b = next;
    }
}

BlockMem::Block* BlockMem::make_block(unsigned long size) {
    // Header, data and slack in one piece; the header sits on an 8-byte
    // boundary and the data on a 2^align_ boundary behind it.
    unsigned long slack = (1UL << align_) + 8;
    unsigned long total = sizeof(Block) + size + slack;
    void* piece = source_ ? source_->alloc(total) : malloc(total);
    if (!piece) abort();
    unsigned long at = reinterpret_cast<unsigned long>(piece);
    at += align_addition(at, 3);
    Block* b = reinterpret_cast<Block*>(at);
    unsigned long data = at + sizeof(Block);
    data += align_addition(data, align_);
    b->allocation = source_ ? nullptr : piece;
    b->data = reinterpret_cast<char*>(data);
    b->size = size;
    b->used = 0;
    b->released = 0;
    b->next = nullptr;
    return b;
}

// The oldest block, once all its bytes are released, moves behind the
// current block so that blocks freed in order are reused in a ring.
void BlockMem::recycle_oldest() {
    Block* b = first_;
    if (!b || b == current_ || b->released < b->used) return;
    first_ = b->next;
    b->next = current_->next;
    current_->next = b;
    b->used = 0;
    b->released = 0;
}

void* BlockMem::bump(unsigned long size) {
    Block* b = current_;
    if (b->used + size > b->size) return nullptr;
    void* p = b->data + b->used;
    b->used += size;
    return p;
}

void* BlockMem::alloc(unsigned long size) {
    recycle_oldest();
    if (!first_) {
        first_ = current_ = make_block(size > first_size_ ? size : first_size_);
    }
    if (void* p = bump(size)) return p;
    Block* next = current_->next;
    if (!next || next->size < size) {
        // A new block goes in front of any spare block too small for size.
        Block* b = make_block(size > next_size_ ? size : next_size_);
        b->next = next;
        current_->next = b;
        next = b;
    }
    next->used = 0;
    next->released = 0;
    current_ = next;
    return bump(size);
}

void BlockMem::commit(void* end) {
    if (!current_) return;
    char* e = static_cast<char*>(end);
    if (e >= current_->data && e <= current_->data + current_->size)
        current_->used = static_cast<unsigned long>(e - current_->data);
}

void BlockMem::free(void* p, unsigned long size) {
    char* c = static_cast<char*>(p);
    for (Block* b = first_; b; b = b->next) {
        if (c >= b->data && c + size <= b->data + b->used) {
            b->released += size;
            return;
        }
    }
}

void BlockMem::clear() {
    current_ = first_;
    if (!first_) return;
    first_->used = 0;
    first_->released = 0;
}

void BlockMem::reserve(int blocks) {
    if (first_size_ == 0 || next_size_ == 0) return;
    Block* last = first_;
    while (last && last->next) last = last->next;
    for (int i = 0; i < blocks; ++i) {
        Block* b = make_block(next_size_);
        if (last) {
            last->next = b;
        } else {
            first_ = current_ = b;
        }
        last = b;
    }
}

void BlockMem::get_size(unsigned long& first, unsigned long& next) const {
    first = first_size_;
    next = next_size_;
}

BlockMem::Reader::Reader(const BlockMem* mem) : mem_(mem), block_(nullptr), offset_(0) {}

void* BlockMem::Reader::read(unsigned long n) {
    Block* b = static_cast<Block*>(block_);
    if (!b) {
        b = mem_->first_;
        if (!b) return nullptr;
        block_ = b;
        offset_ = 0;
    }
    for (;;) {
        if (offset_ + n <= b->used) {
            void* p = b->data + offset_;
            offset_ += n;
            return p;
        }
        Block* next = b->next;
        if (b == mem_->current_ || !next || next->used == 0) return nullptr;
        if (mem_->release_on_read_) b->released = b->used;
        b = next;
        block_ = b;
        offset_ = 0;
    }
}

}  // namespace Base

#include "base/block_mem.h"

#include <stdlib.h>

namespace Base {

BlockMem::BlockMem(unsigned long first, unsigned long next, unsigned char align, Memory* source)
    : first_size_(first),
      next_size_(next),
      align_(align < 3 ? 3 : align),
      source_(source),
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
    b->next = nullptr;
    return b;
}

void* BlockMem::bump(unsigned long size) {
    Block* b = current_;
    if (b->used + size > b->size) return nullptr;
    void* p = b->data + b->used;
    b->used += size;
    return p;
}

void* BlockMem::alloc(unsigned long size) {
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
    current_ = next;
    return bump(size);
}

void BlockMem::clear() {
    current_ = first_;
    if (!first_) return;
    first_->used = 0;
}

}  // namespace Base

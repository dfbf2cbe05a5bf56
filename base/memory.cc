#include "base/memory.h"

#include <stdlib.h>
#include <sys/mman.h>

namespace Base {

namespace {

constexpr int kRecordNodes = 1024;

unsigned long round8(unsigned long n) {
    return n + align_addition(n, 3);
}

const unsigned long LARGE_ZEROED = 2UL << 20;

}  // namespace

void* alloc_zeroed(unsigned long bytes) {
    if (bytes < LARGE_ZEROED) return calloc(1, bytes ? bytes : 1);
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void free_zeroed(void* data, unsigned long bytes) {
    if (bytes < LARGE_ZEROED)
        free(data);
    else if (data != nullptr)
        munmap(data, bytes);
}

int ceil_log(unsigned long value, unsigned long base, unsigned long* power) {
    int exponent = 1;
    unsigned long p = base;
    if (base >= 2) {
        while (p < value) {
            // Stop before the power overflows; value is then unreachable.
            if (p > ~0UL / base) break;
            p *= base;
            ++exponent;
        }
    }
    if (power) *power = p;
    return exponent;
}

Memory::Memory(unsigned long block_size, unsigned long min_block)
    : capacity_(0),
      used_(0),
      block_size_(round8(block_size)),
      min_block_(round8(min_block)),
      active_(kRecordNodes),
      free_(kRecordNodes) {
    if (block_size_ == 0) return;
    Block* b = new_block(block_size_);
    active_.push(b);
}

Memory::~Memory() {
    LFStack* stacks[] = {&active_, &free_};
    for (LFStack* s : stacks) {
        while (Block* b = static_cast<Block*>(s->pop())) {
            if (!b->external) ::free(b->data);
            delete b;
        }
    }
}

// Counters are statistics: a relaxed read-modify-write without a lock
// prefix, so concurrent additions may be lost but never tear.
void Memory::add(unsigned long* counter, unsigned long n) {
    __atomic_store_n(counter, __atomic_load_n(counter, __ATOMIC_RELAXED) + n, __ATOMIC_RELAXED);
}

Memory::Block* Memory::new_block(unsigned long size) {
    Block* b = new Block();
    b->external = false;
    b->data = static_cast<char*>(calloc(1, size ? size : 8));
    if (!b->data) abort();
    b->size = size;
    b->used = 0;
    add(&capacity_, size);
    return b;
}

Memory::Block* Memory::take_free(unsigned long size) {
    Block* b = static_cast<Block*>(free_.pop());
    if (!b || b->size >= size) return b;
    free_.push(b);
    return nullptr;
}

void* Memory::bump(Block* block, unsigned long size) {
    // relaxed: offsets only have to be handed out once each; the memory's
    // contents are published by whoever uses it.
    unsigned long off = __atomic_load_n(&block->used, __ATOMIC_RELAXED);
    while (off + size <= block->size && off + size >= off) {
        if (__atomic_compare_exchange_n(&block->used, &off, off + size, true, __ATOMIC_RELAXED,
                                        __ATOMIC_RELAXED))
            return block->data + off;
    }
    return nullptr;
}

void* Memory::alloc(unsigned long size) {
    for (;;) {
        Block* current = static_cast<Block*>(active_.top());
        if (current) {
            if (void* p = bump(current, size)) {
                add(&used_, size);
                return p;
            }
        }
        Block* b = take_free(size);
        if (!b) b = new_block(round8(size > min_block_ ? size : min_block_));
        // The block is still private: reserving its head needs no swap.
        __atomic_store_n(&b->used, size, __ATOMIC_RELAXED);
        // Install only over the block that was found full; if another thread
        // got there first, park this one and bump theirs.
        if (active_.try_push(current, b)) {
            add(&used_, size);
            return b->data;
        }
        __atomic_store_n(&b->used, 0, __ATOMIC_RELAXED);
        free_.push(b);
    }
}

void Memory::restore(void* data, unsigned long size) {
    Block* b;
    if (data) {
        b = new Block();
        b->external = true;
        b->data = static_cast<char*>(data);
        b->size = size;
        b->used = 0;
    } else {
        b = new_block(round8(size));
    }
    free_.push(b);
}

void Memory::clear() {
    while (Block* b = static_cast<Block*>(active_.pop())) {
        b->used = 0;
        free_.push(b);
    }
    used_ = 0;
}

void Memory::get_size(unsigned long& capacity, unsigned long& used) const {
    capacity = __atomic_load_n(&capacity_, __ATOMIC_RELAXED);
    used = __atomic_load_n(&used_, __ATOMIC_RELAXED);
}

}  // namespace Base

#include "base/data_mem.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace Base {

namespace {

unsigned long piece_bytes(unsigned int size, unsigned char align) {
    return sizeof(DataMem::Block) + size + (1UL << align) + 8;
}

}  // namespace

DataMem::DataMem(unsigned int first, unsigned int next, unsigned char align, Memory* memory)
    : count_(0),
      recycled_count_(0),
      first_size_(first < MIN_BLOCK ? MIN_BLOCK : first),
      next_size_(next < MIN_BLOCK ? MIN_BLOCK : next),
      align_(align < 3 ? 3 : align),
      memory_(memory),
      first_(nullptr),
      current_(nullptr),
      recycle_start_(nullptr),
      directory_(new Vector(sizeof(BlockOffset), 1024, 1, memory)),
      dir_start_(0),
      dir_count_(0) {
    first_size_ -= first_size_ % 8;
    next_size_ -= next_size_ % 8;
}

DataMem::~DataMem() {
    if (!memory_) release_blocks();
    delete directory_;
}

DataMem::Block* DataMem::make_block(unsigned int size) {
    unsigned long total = piece_bytes(size, align_);
    void* piece = memory_ ? memory_->alloc(total) : malloc(total);
    if (!piece) abort();
    unsigned long at = reinterpret_cast<unsigned long>(piece);
    at += align_addition(at, 3);
    Block* b = reinterpret_cast<Block*>(at);
    unsigned long data = at + sizeof(Block);
    data += align_addition(data, align_);
    b->data = reinterpret_cast<char*>(data);
    b->end = b->data + size;
    b->size = size;
    b->next = nullptr;
    b->piece = piece;
    reset(b);
    return b;
}

void DataMem::reset(Block* b) {
    __atomic_store_n(&b->first, count_, __ATOMIC_RELAXED);
    __atomic_store_n(&b->used, 0, __ATOMIC_RELAXED);
    __atomic_store_n(&b->recycled, false, __ATOMIC_RELAXED);
    // release: a reader that sees the block emptied sees its new first.
    __atomic_store_n(&b->count, 0, __ATOMIC_RELEASE);
}

unsigned int DataMem::room(const Block* b) const {
    return b->size - b->used - 4 * static_cast<unsigned int>(b->count);
}

void DataMem::add_entry(Block* b) {
    BlockOffset e{count_, dir_count_, b};
    directory_->set(dir_count_, &e);
    ++dir_count_;
}

// Sets a block pointer that readers load with acquire.
void DataMem::publish(Block** at, Block* b) {
    __atomic_store_n(at, b, __ATOMIC_RELEASE);
}

// Links b behind at. release: a reader that follows the link sees b's
// fields.
void DataMem::link_after(Block* at, Block* b) {
    __atomic_store_n(&b->next, at->next, __ATOMIC_RELAXED);
    __atomic_store_n(&at->next, b, __ATOMIC_RELEASE);
}

// The block after the current one: the oldest block once recycled, else a
// spare block already behind the current one, else a new block.
DataMem::Block* DataMem::next_block(unsigned int need) {
    Block* b = nullptr;
    if (first_ != current_ && first_->is_recycled() && first_->size >= need) {
        b = first_;
        publish(&first_, b->next);
        ++dir_start_;
        if (recycle_start_ == b) recycle_start_ = first_;
        link_after(current_, b);
    } else if (current_->next && current_->next->size >= need) {
        b = current_->next;
    } else {
        b = make_block(need > next_size_ ? need : next_size_);
        link_after(current_, b);
    }
    reset(b);
    return b;
}

void* DataMem::alloc(unsigned short len) {
    unsigned int need = static_cast<unsigned int>(len) + 4;
    if (!current_) {
        if (!first_) publish(&first_, make_block(first_size_));
        reset(first_);
        publish(&current_, first_);
        add_entry(current_);
    }
    if (room(current_) < need) {
        publish(&current_, next_block(need));
        add_entry(current_);
    }
    return current_->data + current_->used;
}

unsigned long DataMem::commit(unsigned short len) {
    Block* b = current_;
    unsigned int end = b->used + len;
    reinterpret_cast<unsigned int*>(b->end)[-static_cast<long>(b->count) - 1] = end;
    // release: the object bytes and its offset entry are in place before a
    // reader can count the object.
    __atomic_store_n(&b->used, end, __ATOMIC_RELEASE);
    __atomic_store_n(&b->count, b->count + 1, __ATOMIC_RELEASE);
    unsigned long index = count_;
    __atomic_store_n(&count_, index + 1, __ATOMIC_RELEASE);
    return index;
}

const DataMem::BlockOffset* DataMem::get_block_offset(unsigned long index) const {
    if (index >= get_count() || dir_count_ == 0) return nullptr;
    // Last entry whose first index is at most index.
    unsigned int lo = dir_start_, hi = dir_count_;
    while (hi - lo > 1) {
        unsigned int mid = lo + (hi - lo) / 2;
        const BlockOffset* e = static_cast<const BlockOffset*>(directory_->get(mid));
        if (e->first <= index) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    const BlockOffset* e = static_cast<const BlockOffset*>(directory_->get(lo));
    return e && e->first <= index ? e : nullptr;
}

bool DataMem::truncate(unsigned long n) {
    if (n > count_ || n < recycled_count_) return false;
    if (n == count_) return true;
    const BlockOffset* e = get_block_offset(n);
    if (!e) return false;
    Block* b = e->block;
    unsigned long keep = n - b->first;
    __atomic_store_n(&b->used, b->start_offset(keep), __ATOMIC_RELEASE);
    __atomic_store_n(&b->count, keep, __ATOMIC_RELEASE);
    // Later blocks stay in the chain as spares for the next allocations.
    for (Block* s = b->next; s && s != current_->next; s = s->next) {
        __atomic_store_n(&s->count, 0, __ATOMIC_RELEASE);
        __atomic_store_n(&s->used, 0, __ATOMIC_RELAXED);
    }
    publish(&current_, b);
    dir_count_ = e->position + 1;
    __atomic_store_n(&count_, n, __ATOMIC_RELEASE);
    return true;
}

void DataMem::recycle_block(Block* block) {
    // acq_rel: only the first marker counts the block's objects.
    if (__atomic_exchange_n(&block->recycled, true, __ATOMIC_ACQ_REL)) return;
    __atomic_fetch_add(&recycled_count_, block->get_count(), __ATOMIC_ACQ_REL);
}

bool DataMem::recycle(unsigned long n) {
    if (!current_) return false;
    Block* target = current_;
    if (n < count_) {
        const BlockOffset* e = get_block_offset(n);
        if (!e) return false;
        target = e->block;
    }
    Block* b = recycle_start_ ? recycle_start_ : first_;
    bool any = false;
    // Keep the block just before the target: walk only while both b and its
    // successor lie before the target.
    while (b && b != target && b != current_ && b->next != target && b->first < target->first) {
        if (!b->is_recycled()) {
            recycle_block(b);
            any = true;
        }
        b = b->next;
    }
    recycle_start_ = b;
    return any;
}

void DataMem::clear() {
    for (Block* b = first_; b; b = b->next) {
        __atomic_store_n(&b->first, 0, __ATOMIC_RELAXED);
        __atomic_store_n(&b->count, 0, __ATOMIC_RELEASE);
        __atomic_store_n(&b->used, 0, __ATOMIC_RELAXED);
        __atomic_store_n(&b->recycled, false, __ATOMIC_RELAXED);
    }
    publish(&current_, static_cast<Block*>(nullptr));
    recycle_start_ = nullptr;
    dir_start_ = dir_count_ = 0;
    __atomic_store_n(&count_, 0, __ATOMIC_RELEASE);
    __atomic_store_n(&recycled_count_, 0, __ATOMIC_RELEASE);
}

// Heap blocks are freed; Memory blocks are restored, neighbours merged.
void DataMem::release_blocks() {
    if (!memory_) {
        for (Block* b = first_; b;) {
            Block* next = b->next;
            ::free(b->piece);
            b = next;
        }
        return;
    }
    struct Range {
        char* at;
        unsigned long size;
        bool operator<(const Range& o) const { return at < o.at; }
    };
    unsigned long n = 0;
    for (Block* b = first_; b; b = b->next) ++n;
    if (n == 0) return;
    Range* ranges = static_cast<Range*>(malloc(n * sizeof(Range)));
    if (!ranges) abort();
    unsigned long i = 0;
    for (Block* b = first_; b; b = b->next)
        ranges[i++] = Range{static_cast<char*>(b->piece), piece_bytes(b->size, align_)};
    std::sort(ranges, ranges + n);
    Range run = ranges[0];
    for (i = 1; i < n; ++i) {
        if (run.at + run.size == ranges[i].at) {
            run.size += ranges[i].size;
            continue;
        }
        memory_->restore(run.at, run.size);
        run = ranges[i];
    }
    memory_->restore(run.at, run.size);
    ::free(ranges);
}

void DataMem::free() {
    clear();
    release_blocks();
    publish(&first_, static_cast<Block*>(nullptr));
    directory_->clear();
}

void DataMem::get_size(unsigned int& first, unsigned int& next) const {
    first = first_size_;
    next = next_size_;
}

}  // namespace Base

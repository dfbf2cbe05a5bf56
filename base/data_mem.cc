#include "base/data_mem.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "base/trace.h"

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
      recycle_start_(0),
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
    Trace::note(Trace::BLOCK, total);
    void* piece = memory_ ? memory_->alloc(total) : malloc(total);
    Trace::note(Trace::BLOCK_END, total);
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
    // release: a marker that sees the flag cleared sees the directory start
    // that has moved past the block's old entry (see mark).
    __atomic_store_n(&b->recycled, false, __ATOMIC_RELEASE);
    // release: a reader that sees the block emptied sees its new first.
    __atomic_store_n(&b->count, 0, __ATOMIC_RELEASE);
}

unsigned int DataMem::room(const Block* b) const {
    return b->size - b->used - 4 * static_cast<unsigned int>(b->count);
}

// Entries past the count may still be read by a reader that loaded the
// count before a truncate, so an entry is written field by field with
// atomic stores, into the vector's existing slot when there is one.
void DataMem::add_entry(Block* b) {
    unsigned int position = dir_count_;
    void* at = position < directory_->get_count() ? directory_->get(position)
                                                  : directory_->set(position, nullptr);
    BlockOffset* e = static_cast<BlockOffset*>(at);
    // Relaxed: published by the release of the directory count below.
    __atomic_store_n(&e->first, count_, __ATOMIC_RELAXED);
    __atomic_store_n(&e->position, position, __ATOMIC_RELAXED);
    __atomic_store_n(&e->block, b, __ATOMIC_RELAXED);
    // release: a reader that counts the entry sees its fields.
    __atomic_store_n(&dir_count_, position + 1, __ATOMIC_RELEASE);
}

const DataMem::BlockOffset* DataMem::entry(unsigned int position) const {
    return static_cast<const BlockOffset*>(directory_->get(position));
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
// A block is reset before it is linked, so a reader that follows the link
// finds it empty with its new first index. The oldest block is reused only
// once marked: markers never touch a block after marking it.
DataMem::Block* DataMem::next_block(unsigned int need) {
    Block* b = nullptr;
    if (first_ != current_ && first_->is_recycled() && first_->size >= need) {
        b = first_;
        // release: before the flag is cleared in reset (see mark).
        __atomic_store_n(&dir_start_, dir_start_ + 1, __ATOMIC_RELEASE);
        reset(b);
        publish(&first_, b->next);
        link_after(current_, b);
    } else if (current_->next && current_->next->size >= need) {
        b = current_->next;
        reset(b);
    } else {
        b = make_block(need > next_size_ ? need : next_size_);
        link_after(current_, b);
    }
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
    if (index >= get_count()) return nullptr;
    return find(index);
}

// The last entry from the oldest block on whose first index is at most
// index; null when index lies before the oldest block.
const DataMem::BlockOffset* DataMem::find(unsigned long index) const {
    // acquire: the entries below the count, and the blocks and tables they
    // lead to, are in place. The start only grows, and entries before it
    // stay readable, so a start newer than the count is harmless.
    unsigned int hi = __atomic_load_n(&dir_count_, __ATOMIC_ACQUIRE);
    unsigned int lo = __atomic_load_n(&dir_start_, __ATOMIC_ACQUIRE);
    if (lo >= hi) return nullptr;
    while (hi - lo > 1) {
        unsigned int mid = lo + (hi - lo) / 2;
        const BlockOffset* e = entry(mid);
        if (!e) return nullptr;
        if (e->get_first() <= index) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    const BlockOffset* e = entry(lo);
    return e && e->get_first() <= index ? e : nullptr;
}

bool DataMem::truncate(unsigned long n) {
    MutexGuard guard(recycle_lock_);
    if (n > count_ || n < get_recycle_count()) return false;
    if (n == count_) return true;
    const BlockOffset* e = find(n);
    if (!e) return false;
    Block* b = e->get_block();
    if (b->is_recycled()) return false;  // object n's block may be reused
    unsigned long keep = n - b->first;
    __atomic_store_n(&b->used, b->start_offset(keep), __ATOMIC_RELEASE);
    __atomic_store_n(&b->count, keep, __ATOMIC_RELEASE);
    // Later blocks stay in the chain as spares for the next allocations.
    for (Block* s = b->next; s && s != current_->next; s = s->next) {
        __atomic_store_n(&s->count, 0, __ATOMIC_RELEASE);
        __atomic_store_n(&s->used, 0, __ATOMIC_RELAXED);
    }
    publish(&current_, b);
    // release: as in add_entry.
    __atomic_store_n(&dir_count_, e->get_position() + 1, __ATOMIC_RELEASE);
    __atomic_store_n(&count_, n, __ATOMIC_RELEASE);
    return true;
}

// The caller holds recycle_lock_, so no other marker can set the flag
// between the test and the store.
void DataMem::mark_block(Block* block) {
    if (block->is_recycled()) return;
    // Counted before the flag: once the flag is set the writer may reuse the
    // block and reset its count. Relaxed: a statistic, ordered among markers
    // and truncate by the lock.
    __atomic_fetch_add(&recycled_count_, block->get_count(), __ATOMIC_RELAXED);
    // release: the writer that sees the flag reuses the block only after
    // this marker's last look at it.
    __atomic_store_n(&block->recycled, true, __ATOMIC_RELEASE);
}

void DataMem::recycle_block(Block* block) {
    MutexGuard guard(recycle_lock_);
    mark_block(block);
}

// Marks the block of the entry unless it is marked already or the writer
// has reused it since (its entry then lies before the directory start).
bool DataMem::mark(unsigned int position) {
    Block* b = entry(position)->get_block();
    // Acquire (in is_recycled): a flag cleared by the writer's reuse comes
    // with the directory start that has moved past this entry.
    if (b->is_recycled()) return false;
    if (position < __atomic_load_n(&dir_start_, __ATOMIC_ACQUIRE)) return false;
    mark_block(b);
    return true;
}

// Works on directory entries, which never move while the writer appends,
// rather than on block links, which the writer changes when it reuses the
// oldest block.
bool DataMem::recycle(unsigned long n) {
    MutexGuard guard(recycle_lock_);
    // acquire: the entries below the count are in place.
    unsigned int count = __atomic_load_n(&dir_count_, __ATOMIC_ACQUIRE);
    if (count == 0) return false;
    unsigned int target = count - 1;  // the current block
    if (n < get_count()) {
        const BlockOffset* e = find(n);
        if (!e) return false;
        target = e->get_position();
    }
    if (target == 0) return false;
    // Keep the block just before the target.
    unsigned int stop = target - 1;
    unsigned int from = __atomic_load_n(&dir_start_, __ATOMIC_ACQUIRE);
    if (from < recycle_start_) from = recycle_start_;
    bool any = false;
    for (unsigned int p = from; p < stop; ++p) any |= mark(p);
    if (recycle_start_ < stop) recycle_start_ = stop;
    return any;
}

void DataMem::clear() {
    MutexGuard guard(recycle_lock_);
    clear_locked();
}

void DataMem::clear_locked() {
    for (Block* b = first_; b; b = b->next) {
        __atomic_store_n(&b->first, 0, __ATOMIC_RELAXED);
        __atomic_store_n(&b->count, 0, __ATOMIC_RELEASE);
        __atomic_store_n(&b->used, 0, __ATOMIC_RELAXED);
        __atomic_store_n(&b->recycled, false, __ATOMIC_RELAXED);
    }
    publish(&current_, static_cast<Block*>(nullptr));
    recycle_start_ = 0;
    // Release: readers are quiescent; kept for the readers' acquire pairs.
    __atomic_store_n(&dir_start_, 0, __ATOMIC_RELEASE);
    __atomic_store_n(&dir_count_, 0, __ATOMIC_RELEASE);
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
    MutexGuard guard(recycle_lock_);
    clear_locked();
    release_blocks();
    publish(&first_, static_cast<Block*>(nullptr));
    directory_->clear();
}

void DataMem::get_size(unsigned int& first, unsigned int& next) const {
    first = first_size_;
    next = next_size_;
}

}  // namespace Base

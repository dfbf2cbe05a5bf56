#ifndef XELMD_BASE_DATA_MEM_H
#define XELMD_BASE_DATA_MEM_H

#include "base/memory.h"
#include "base/mutex.h"
#include "base/vector.h"

namespace Base {

// Append-only store of variable-length objects in large blocks. In a block
// the object bytes grow up from its start and a table of 32-bit end offsets
// grows down from its end: entry k (counted from the end) is where object k
// ends, and object k starts where object k - 1 ends (0 for the first). An
// object of n bytes costs n + 4 bytes. Objects never move; only whole blocks
// are recycled and reused, oldest first.
//
// One writer thread appends (alloc, commit) and maintains (truncate, clear,
// free). While it appends, any thread may search the directory
// (get_block_offset) and read committed objects: entries, counts, used bytes
// and block links are published with release once what they cover is in
// place. recycle and recycle_block may run on other threads too: they
// serialize with each other and with truncate, clear and free on an internal
// lock, and mark only blocks older than the one before the target, which the
// writer does not touch until they are marked. clear and free need readers
// quiescent.
class DataMem {
  public:
    static const unsigned int MIN_BLOCK = 1048576;

    struct Block {
        char* data;           // first object byte
        char* end;            // one past the offset table
        unsigned int size;    // bytes between data and end
        unsigned int used;    // object bytes
        unsigned long first;  // store index of the block's first object
        unsigned long count;  // objects in the block
        bool recycled;
        Block* next;
        void* piece;  // the allocation the block was carved from

        // Readers on other threads use these accessors for the fields the
        // writer changes while they may look (first and next change when a
        // block is linked or reused).
        unsigned long get_first() const { return __atomic_load_n(&first, __ATOMIC_ACQUIRE); }
        Block* get_next() const { return __atomic_load_n(&next, __ATOMIC_ACQUIRE); }
        unsigned long get_count() const { return __atomic_load_n(&count, __ATOMIC_ACQUIRE); }
        unsigned int get_used() const { return __atomic_load_n(&used, __ATOMIC_ACQUIRE); }
        bool is_recycled() const { return __atomic_load_n(&recycled, __ATOMIC_ACQUIRE); }
        // End offset of object k of the block (k below the count).
        unsigned int end_offset(unsigned long k) const {
            return reinterpret_cast<const unsigned int*>(end)[-static_cast<long>(k) - 1];
        }
        unsigned int start_offset(unsigned long k) const { return k ? end_offset(k - 1) : 0; }
    };

    // A directory entry: the block holding objects from first on. Entries
    // are written with atomic stores and read through the accessors, as a
    // reader may still look at an entry that a truncate has dropped and the
    // writer rewrites.
    struct BlockOffset {
        unsigned long first;
        unsigned int position;  // the entry's own index in the directory
        Block* block;

        // Relaxed: the entry was published by the directory count.
        unsigned long get_first() const { return __atomic_load_n(&first, __ATOMIC_RELAXED); }
        unsigned int get_position() const { return __atomic_load_n(&position, __ATOMIC_RELAXED); }
        Block* get_block() const { return __atomic_load_n(&block, __ATOMIC_RELAXED); }
    };

    // Both sizes are raised to MIN_BLOCK; blocks start on 2^align
    // boundaries; memory may be null (heap).
    DataMem(unsigned int first, unsigned int next, unsigned char align, Memory* memory);
    ~DataMem();
    DataMem(const DataMem&) = delete;
    DataMem& operator=(const DataMem&) = delete;

    // Room for len bytes (plus their offset entry) in the current block,
    // moving to another block when they do not fit. Nothing is counted until
    // commit.
    void* alloc(unsigned short len);
    // Records the object of len bytes written at the last alloc and returns
    // its store index.
    unsigned long commit(unsigned short len);
    // Cuts the store back to n objects; false (nothing changed) unless
    // recycled count <= n <= count.
    bool truncate(unsigned long n);
    // Marks recycled every block from the recycling start up to, not
    // including, the block before the one holding object n (the current
    // block at or past the count); true when any block was marked.
    bool recycle(unsigned long n);
    // Marks one block recycled (a reader that left it behind); idempotent.
    // The block must not be the current one.
    void recycle_block(Block* block);
    // Empties the store, keeping its blocks for reuse.
    void clear();
    // Gives every block back: to the Memory (adjacent blocks as one piece)
    // or to the heap. The Memory must outlive the store.
    void free();

    // The directory entry of the block holding index, or null at or past
    // the count or before the oldest block. Any thread, while the writer
    // appends.
    const BlockOffset* get_block_offset(unsigned long index) const;
    void get_size(unsigned int& first, unsigned int& next) const;
    unsigned long get_count() const { return __atomic_load_n(&count_, __ATOMIC_ACQUIRE); }
    unsigned long get_recycle_count() const {
        return __atomic_load_n(&recycled_count_, __ATOMIC_ACQUIRE);
    }
    // Oldest block (null before the first alloc).
    Block* get_first_block() const { return __atomic_load_n(&first_, __ATOMIC_ACQUIRE); }
    Block* get_current_block() const { return __atomic_load_n(&current_, __ATOMIC_ACQUIRE); }

  private:
    Block* make_block(unsigned int size);
    void reset(Block* b);
    unsigned int room(const Block* b) const;
    Block* next_block(unsigned int need);
    static void link_after(Block* at, Block* b);
    static void publish(Block** at, Block* b);
    void add_entry(Block* b);
    const BlockOffset* entry(unsigned int position) const;
    const BlockOffset* find(unsigned long index) const;
    bool mark(unsigned int position);
    void mark_block(Block* block);
    void clear_locked();
    void release_blocks();

    unsigned long count_;
    unsigned long recycled_count_;
    unsigned int first_size_;
    unsigned int next_size_;
    unsigned char align_;
    Memory* memory_;
    Block* first_;
    Block* current_;
    // Directory entry of the block where the next recycling starts; entries
    // before it are recycled or stale. Touched under recycle_lock_ only.
    unsigned int recycle_start_;
    Vector* directory_;
    unsigned int dir_start_;  // entry of the oldest block
    unsigned int dir_count_;  // entries in use
    Mutex recycle_lock_;
};

}  // namespace Base

#endif  // XELMD_BASE_DATA_MEM_H

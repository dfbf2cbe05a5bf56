#ifndef XELMD_BASE_DATA_FLOW_H
#define XELMD_BASE_DATA_FLOW_H

#include <atomic>

#include "base/data_mem.h"
#include "base/notify.h"

namespace Base {

class Memory;
class Vector;

// Sequenced append-only store of objects of at most 65535 bytes, numbered by
// 64-bit sequence numbers, with a chain of successor flows for new versions.
// One writer thread (alloc, commit, shift, maintenance); any number of readers
// on other threads through DataFlow::Iterator. `end` is published with release
// after the object's bytes and table entry are in place.
class DataFlow {
  public:
    // Receives every committed object; writer thread.
    class WriteCallback {
      public:
        virtual void on_write(unsigned long id, const void* data, unsigned short length) = 0;

      protected:
        ~WriteCallback() = default;
    };

    // Receives what an iterator hands out; the iterator's thread.
    class ReadCallback {
      public:
        virtual void on_read(unsigned long id, const void* data, unsigned short length) = 0;
        virtual void on_version(void* version) = 0;

      protected:
        ~ReadCallback() = default;
    };

    // Acknowledgement of published objects, passed through by channels.
    class AckCallback {
      public:
        virtual void on_ack(unsigned long id) = 0;

      protected:
        ~AckCallback() = default;
    };

    class Iterator;
    class Sender;
    class Receiver;
    class Recycler;
    class Saver;
    class Loader;
    class FileReader;

    DataFlow(unsigned short subject, unsigned int first_block, unsigned int next_block,
             Memory* memory, WriteCallback* callback, unsigned long start, void* version,
             bool auto_free, bool manual_commit);
    virtual ~DataFlow();
    DataFlow(const DataFlow&) = delete;
    DataFlow& operator=(const DataFlow&) = delete;

    // Acquire: pairs with commit's release, so objects below the count are
    // fully written when a reader sees it.
    virtual unsigned long get_count() const { return end_.load(std::memory_order_acquire); }
    static const int FILE_NAME_SIZE = 256;
    // dir + "/" (when given), then name + ".flow" or the subject as
    // "%08x.flow", bounded to FILE_NAME_SIZE - 1 characters.
    virtual void get_file_name(const char* dir, const char* name, char* out) const;
    // An empty flow of the same kind, subject, block sizes, memory, callback
    // and flags, starting at 0 with no version.
    virtual DataFlow* clone() const;

    // Writing: one writer thread.
    void* alloc_object(unsigned short length);
    unsigned long commit_object(unsigned short length, bool notify);
    void commit(bool notify);
    void notify();
    void enable_notify(bool enabled) { notify_enabled_ = enabled; }
    void set_check_point(unsigned long* cp) const { *cp = store_->get_count(); }
    void rollback(const unsigned long* cp);

    // Maintenance: the writer thread with readers stopped, except recycle,
    // which any one thread (a recycler's reactor) may run while the writer
    // appends and readers read.
    void clear(unsigned long start);
    bool truncate(unsigned long n);
    bool recycle(unsigned long n);
    void free();
    DataFlow* shift(void* version);

    // The sequence number the next stored object gets (committed or not).
    unsigned long get_next_id() const { return get_start_id() + store_->get_count(); }
    unsigned short get_subject() const { return subject_; }
    // Acquire: pairs with the release of clear/free that moved it.
    unsigned long get_start_id() const { return start_.load(std::memory_order_acquire); }
    // Relaxed: a word compared for equality; a successor's version is
    // published with the successor itself.
    void* get_version() const { return version_.load(std::memory_order_relaxed); }
    void set_version(void* version) { version_.store(version, std::memory_order_relaxed); }
    // Acquire: a successor found here is fully built.
    DataFlow* get_next() const { return next_.load(std::memory_order_acquire); }
    DataFlow* get_last();
    Memory* get_memory() const { return memory_; }
    unsigned int get_first_block() const { return first_block_; }
    unsigned int get_next_block() const { return next_block_; }
    void get_size(unsigned int& first, unsigned int& next) const { store_->get_size(first, next); }
    unsigned long get_recycle_count() const;
    bool get_buffer_count(unsigned long& count) const;
    bool is_auto_free() const { return auto_free_; }
    bool is_manual_commit() const { return manual_commit_; }
    bool has_references() const { return has_references_; }
    void set_references(bool on) { has_references_ = on; }
    WriteCallback* get_write_callback() const { return write_callback_; }
    Producer* get_producer() { return &producer_; }

  private:
    friend class Iterator;
    friend class Recycler;

    void append(DataFlow* successor);

    std::atomic<DataFlow*> next_;
    unsigned short subject_;
    Producer producer_;
    DataMem* store_;
    WriteCallback* write_callback_;
    bool auto_free_;
    bool manual_commit_;
    bool notify_enabled_;
    bool has_references_;
    std::atomic<unsigned long> end_;
    std::atomic<unsigned long> start_;
    std::atomic<void*> version_;
    Memory* memory_;
    unsigned int first_block_;
    unsigned int next_block_;
    // Where the last alloc_object put the object being written.
    void* pending_;
};

}  // namespace Base

#endif  // XELMD_BASE_DATA_FLOW_H

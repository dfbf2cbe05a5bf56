#include "base/data_flow.h"

#include <cstdio>

namespace Base {

namespace {
// Blocks taken from a Memory start on 8-byte boundaries.
constexpr unsigned char STORE_ALIGN = 3;
}  // namespace

DataFlow::DataFlow(unsigned short subject, unsigned int first_block, unsigned int next_block,
                   Memory* memory, WriteCallback* callback, unsigned long start, void* version,
                   bool auto_free, bool manual_commit)
    : next_(nullptr),
      subject_(subject),
      store_(new DataMem(first_block, next_block, STORE_ALIGN, memory)),
      write_callback_(callback),
      auto_free_(auto_free),
      manual_commit_(manual_commit),
      notify_enabled_(true),
      has_references_(false),
      end_(start),
      start_(start),
      version_(version),
      memory_(memory),
      first_block_(first_block),
      next_block_(next_block),
      pending_(nullptr) {}

DataFlow::~DataFlow() {
    delete next_.load(std::memory_order_relaxed);
    delete store_;
}

void DataFlow::get_file_name(const char* dir, const char* name, char* out) const {
    const size_t size = FILE_NAME_SIZE;
    int n = 0;
    if (dir != nullptr) n = snprintf(out, size, "%s%c", dir, 47);
    if (n < 0 || static_cast<size_t>(n) >= size) n = 0;
    if (name != nullptr)
        snprintf(out + n, size - n, "%s.flow", name);
    else
        snprintf(out + n, size - n, "%08x.flow", subject_);
}

DataFlow* DataFlow::clone() const {
    DataFlow* flow = new DataFlow(subject_, first_block_, next_block_, memory_, write_callback_, 0,
                                  nullptr, auto_free_, manual_commit_);
    flow->has_references_ = has_references_;
    return flow;
}

void* DataFlow::alloc_object(unsigned short length) {
    pending_ = store_->alloc(length);
    return pending_;
}

unsigned long DataFlow::commit_object(unsigned short length, bool notify) {
    // Relaxed: start is only moved on this (the writer's) thread.
    unsigned long id = start_.load(std::memory_order_relaxed) + store_->get_count();
    store_->commit(length);
    const void* data = pending_;
    if (write_callback_ != nullptr) write_callback_->on_write(id, data, length);
    if (!manual_commit_) commit(notify);
    return id;
}

void DataFlow::commit(bool notify) {
    // Release: the objects' bytes and table entries are visible before `end`.
    end_.store(start_.load(std::memory_order_relaxed) + store_->get_count(),
               std::memory_order_release);
    if (notify_enabled_ && notify) producer_.produce();
}

void DataFlow::notify() {
    if (notify_enabled_) producer_.produce();
}

void DataFlow::rollback(const unsigned long* cp) {
    unsigned long n = cp != nullptr ? *cp : get_count() - get_start_id();
    store_->truncate(n);
}

void DataFlow::clear(unsigned long start) {
    store_->clear();
    // Release: a reader that sees the new numbering sees the emptied store.
    start_.store(start, std::memory_order_release);
    end_.store(start, std::memory_order_release);
    // Forgetting the successor destroys the chain behind this flow.
    delete next_.exchange(nullptr, std::memory_order_acq_rel);
}

bool DataFlow::truncate(unsigned long n) {
    unsigned long start = get_start_id();
    if (n < start || n > get_count()) return false;
    if (!store_->truncate(n - start)) return false;  // into recycled blocks
    end_.store(n, std::memory_order_release);
    return true;
}

bool DataFlow::recycle(unsigned long n) {
    unsigned long end = get_count();
    unsigned long m = n < end ? n : end;
    unsigned long start = get_start_id();
    if (start >= m) return false;
    return store_->recycle(m - start);
}

void DataFlow::free() {
    store_->free();
    // Release: as in clear().
    start_.store(0, std::memory_order_release);
    end_.store(0, std::memory_order_release);
}

DataFlow* DataFlow::shift(void* version) {
    if (get_version() == version) return this;
    if (store_->get_count() + get_start_id() == 0) {
        set_version(version);
        return this;
    }
    DataFlow* flow = clone();
    flow->set_version(version);
    get_last()->append(flow);
    return flow;
}

void DataFlow::append(DataFlow* successor) {
    // Release: readers that find the successor see it fully built.
    next_.store(successor, std::memory_order_release);
}

DataFlow* DataFlow::get_last() {
    DataFlow* flow = this;
    while (DataFlow* next = flow->get_next()) flow = next;
    return flow;
}

unsigned long DataFlow::get_recycle_count() const {
    return store_->get_recycle_count();
}

bool DataFlow::get_buffer_count(unsigned long& count) const {
    unsigned long end = get_count();
    unsigned long recycled = get_recycle_count();
    if (recycled > end) {
        count = 0;
        return false;
    }
    count = end - recycled;
    return true;
}

}  // namespace Base

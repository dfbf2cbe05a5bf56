#include "base/data_flow_iterator.h"

namespace Base {

DataFlow::Iterator::Iterator(DataFlow* flow, Notify* notify, ReadCallback* callback,
                             unsigned long* cell)
    : flow_(nullptr),
      notify_(notify),
      position_(DETACHED),
      callback_(callback),
      cell_(cell),
      block_(nullptr),
      offset_(0),
      result_{nullptr, 0},
      consumer_(nullptr),
      node_(nullptr) {
    if (flow != nullptr) attach(flow);
}

DataFlow::Iterator::~Iterator() {
    detach();
}

void DataFlow::Iterator::attach(DataFlow* flow) {
    block_ = nullptr;
    offset_ = 0;
    result_ = Result{nullptr, 0};
    flow_ = flow;
    position_ = DETACHED;
    if (notify_ != nullptr) consumer_ = flow->producer_.add(notify_, node_);
    seek(flow->get_start_id());
}

void DataFlow::Iterator::detach() {
    if (flow_ != nullptr && notify_ != nullptr && consumer_ != nullptr)
        flow_->producer_.remove(consumer_, notify_, node_);
    consumer_ = nullptr;
    node_ = nullptr;
    flow_ = nullptr;
    position_ = DETACHED;
}

unsigned long DataFlow::Iterator::get_recycle_pos() const {
    // Acquire pairs with raise_cell's release; the value is this reader's own.
    return cell_ != nullptr ? __atomic_load_n(cell_, __ATOMIC_ACQUIRE) : 0;
}

void DataFlow::Iterator::raise_cell(unsigned long value) {
    if (cell_ == nullptr) return;
    // Relaxed read: only this reader writes its cell. Release store: the
    // recycler that sees the new value no longer needs what lies before it.
    if (__atomic_load_n(cell_, __ATOMIC_RELAXED) < value)
        __atomic_store_n(cell_, value, __ATOMIC_RELEASE);
}

bool DataFlow::Iterator::seek(unsigned long pos) {
    if (flow_ == nullptr) return false;
    unsigned long start = flow_->get_start_id();
    if (pos < start) return false;
    unsigned long end = flow_->get_count();
    if (pos > end) pos = end;
    if (pos == position_) return true;
    if (pos == start) {
        // The first block is looked up once an object is known to exist:
        // the writer may be creating it right now.
        block_ = nullptr;
        offset_ = 0;
        position_ = start;
        return true;
    }
    if (pos == end) {
        if (!seek(end - 1)) return false;
        next();
        return true;
    }
    unsigned long index = pos - start;
    DataMem::Block* block = block_;
    if (block == nullptr || index < block->get_first() ||
        index >= block->get_first() + block->get_count()) {
        const DataMem::BlockOffset* entry = flow_->store_->get_block_offset(index);
        block = entry != nullptr ? entry->get_block() : nullptr;
    }
    if (block == nullptr) return false;
    block_ = block;
    offset_ = block->start_offset(index - block->get_first());
    position_ = pos;
    raise_cell(pos);
    return true;
}

bool DataFlow::Iterator::follow_successor() {
    if (flow_ == nullptr) return false;
    // Successor first: once it exists the old flow's end is final.
    DataFlow* successor = flow_->get_next();
    if (successor == nullptr || position_ < flow_->get_count()) return false;
    DataFlow* old = flow_;
    detach();
    if (old->auto_free_) old->free();
    attach(successor);
    if (callback_ != nullptr) callback_->on_version(successor->get_version());
    return true;
}

bool DataFlow::Iterator::step_block() {
    unsigned long index = position_ - flow_->get_start_id();
    if (block_ == nullptr) {
        // Safe to read: an object exists (position < end, acquired), so the
        // block was made before it was published.
        block_ = flow_->store_->get_first_block();
        offset_ = 0;
        if (block_ == nullptr) return false;
    }
    // The position is below `end` (acquired), so its object's block count
    // is published; past this block's count the object lies in a later block
    // whose link was set before that object was committed.
    unsigned long count = block_->get_count();
    unsigned long first = block_->get_first();
    if (index < first + count) return true;
    DataMem::Block* next = block_->get_next();
    if (next == nullptr || next->get_first() != first + count || next->get_count() == 0)
        return false;
    if (flow_->auto_free_) flow_->store_->recycle_block(block_);
    block_ = next;
    offset_ = 0;
    raise_cell(flow_->get_start_id() + next->get_first());
    return true;
}

const DataFlow::Iterator::Result* DataFlow::Iterator::next() {
    follow_successor();
    if (flow_ == nullptr || position_ >= flow_->get_count()) return nullptr;
    if (!step_block()) return nullptr;
    unsigned long k = position_ - flow_->get_start_id() - block_->get_first();
    unsigned int end = block_->end_offset(k);
    const char* data = block_->data + offset_;
    unsigned short length = static_cast<unsigned short>(end - offset_);
    offset_ = end;
    return deliver(data, length);
}

const DataFlow::Iterator::Result* DataFlow::Iterator::deliver(const char* data,
                                                              unsigned short length) {
    if (callback_ != nullptr) callback_->on_read(position_, data, length);
    ++position_;
    result_ = Result{data, length};
    return &result_;
}

}  // namespace Base

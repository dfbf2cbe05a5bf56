#include "base/data_flow_sender.h"

#include <cstring>

namespace Base {

DataFlow::Sender::Sender(DataFlow* flow)
    : iterator_(flow != nullptr ? new Iterator(flow, nullptr, nullptr, nullptr) : nullptr) {}

DataFlow::Sender* DataFlow::Sender::create(DataFlow* flow) {
    return new Sender(flow);
}

DataFlow::Sender::~Sender() {
    delete iterator_;
}

unsigned long DataFlow::Sender::get_version() {
    return reinterpret_cast<unsigned long>(iterator_->get_flow()->get_version());
}

unsigned long DataFlow::Sender::get_count() {
    return iterator_->get_flow()->get_count();
}

unsigned long DataFlow::Sender::tell() {
    return iterator_->tell();
}

bool DataFlow::Sender::available() {
    iterator_->follow_successor();
    return iterator_->tell() < iterator_->get_flow()->get_count();
}

bool DataFlow::Sender::seek(unsigned long pos) {
    return iterator_->seek(pos);
}

const char* DataFlow::Sender::read(unsigned short& length) {
    const Iterator::Result* r = iterator_->next();
    if (r == nullptr) return nullptr;
    length = r->length;
    return r->data;
}

DataFlow::Receiver::Receiver(DataFlow* flow) : flow_(flow->get_last()) {}

unsigned long DataFlow::Receiver::get_version() {
    return reinterpret_cast<unsigned long>(flow_->get_version());
}

unsigned long DataFlow::Receiver::get_count() {
    return flow_->get_count();
}

void DataFlow::Receiver::set_version(unsigned long version) {
    flow_ = flow_->shift(reinterpret_cast<void*>(version));
}

void DataFlow::Receiver::write(const void* data, unsigned short length) {
    void* p = flow_->alloc_object(length);
    if (p == nullptr) return;
    memcpy(p, data, length);
    flow_->commit_object(length, false);
}

void DataFlow::Receiver::notify() {
    flow_->notify();
}

DataFlow::Recycler::Recycler(DataFlow* flow, unsigned long keep)
    : flow_(flow), keep_(keep), last_min_(flow->get_start_id()), cells_(true, 16) {}

DataFlow::Recycler::~Recycler() {
    while (void* cell = cells_.pop_front()) delete static_cast<unsigned long*>(cell);
}

unsigned long* DataFlow::Recycler::alloc_reader() {
    unsigned long* cell = new unsigned long(last_min_);
    cells_.push_back(cell);
    return cell;
}

void DataFlow::Recycler::free_reader(const unsigned long* cell) {
    for (List::Node* node = cells_.get_first(); node != nullptr; node = node->next) {
        if (node->data == cell) {
            cells_.remove(node);
            delete cell;
            return;
        }
    }
}

bool DataFlow::Recycler::invoke() {
    unsigned long min = flow_->get_count();
    for (List::Node* node = cells_.get_first(); node != nullptr; node = node->next) {
        // Acquire pairs with the reader's release: it has left what lies below.
        unsigned long v =
            __atomic_load_n(static_cast<unsigned long*>(node->data), __ATOMIC_ACQUIRE);
        if (v < min) min = v;
    }
    last_min_ = min;
    if (keep_ > min) return false;
    unsigned long t = min - keep_;
    unsigned long start = flow_->get_start_id();
    unsigned long end = flow_->get_count();
    if (t < start) t = start;
    if (t > end) t = end;
    if (t <= start) return false;
    return flow_->store_->recycle(t - start);
}

}  // namespace Base

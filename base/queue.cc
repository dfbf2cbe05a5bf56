#include "base/queue.h"

namespace Base {

Queue::Queue(bool pooled, int prealloc)
    : pool_(pooled, prealloc), count_(0), head_(nullptr), tail_(nullptr) {}

Queue::~Queue() {
    clear();
}

void Queue::push(void* data) {
    Node* n = pool_.take();
    n->data = data;
    n->next = nullptr;
    if (tail_) {
        tail_->next = n;
    } else {
        head_ = n;
    }
    tail_ = n;
    ++count_;
}

void* Queue::pop() {
    Node* n = head_;
    if (!n) return nullptr;
    head_ = n->next;
    if (!head_) tail_ = nullptr;
    --count_;
    void* data = n->data;
    pool_.give(n);
    return data;
}

void Queue::clear() {
    while (head_) pop();
}

void* Queue::Iterator::next() {
    if (!node_) return nullptr;
    void* data = node_->data;
    node_ = node_->next;
    return data;
}

}  // namespace Base

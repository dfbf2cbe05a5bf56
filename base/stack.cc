#include "base/stack.h"

namespace Base {

Stack::Stack(bool pooled, int prealloc) : pool_(pooled, prealloc), count_(0), top_(nullptr) {}

Stack::~Stack() {
    clear();
}

void Stack::push(void* data) {
    Node* n = pool_.take();
    n->data = data;
    n->next = top_;
    top_ = n;
    ++count_;
}

void* Stack::pop() {
    Node* n = top_;
    if (!n) return nullptr;
    top_ = n->next;
    --count_;
    void* data = n->data;
    pool_.give(n);
    return data;
}

void Stack::clear() {
    while (top_) pop();
}

void* Stack::Iterator::next() {
    if (!node_) return nullptr;
    void* data = node_->data;
    node_ = node_->next;
    return data;
}

}  // namespace Base

#include "base/list.h"

namespace Base {

List::List(bool pooled, int prealloc)
    : pool_(pooled, prealloc), count_(0), first_(nullptr), last_(nullptr) {}

List::~List() {
    clear();
}

// Links a new node between prev and next (either may be null at the ends).
List::Node* List::link(void* data, Node* prev, Node* next) {
    Node* n = pool_.take();
    n->data = data;
    n->prev = prev;
    n->next = next;
    if (prev) {
        prev->next = n;
    } else {
        first_ = n;
    }
    if (next) {
        next->prev = n;
    } else {
        last_ = n;
    }
    ++count_;
    return n;
}

List::Node* List::push_back(void* data) {
    return link(data, last_, nullptr);
}

List::Node* List::push_front(void* data) {
    return link(data, nullptr, first_);
}

List::Node* List::push_back(void* data, Node* after) {
    if (!after) return push_back(data);
    return link(data, after, after->next);
}

List::Node* List::push_front(void* data, Node* before) {
    if (!before) return push_front(data);
    return link(data, before->prev, before);
}

void* List::remove(Node* node) {
    if (!node) return nullptr;
    if (node->prev) {
        node->prev->next = node->next;
    } else {
        first_ = node->next;
    }
    if (node->next) {
        node->next->prev = node->prev;
    } else {
        last_ = node->prev;
    }
    --count_;
    void* data = node->data;
    pool_.give(node);
    return data;
}

void* List::pop_back() {
    return last_ ? remove(last_) : nullptr;
}

void* List::pop_front() {
    return first_ ? remove(first_) : nullptr;
}

void List::clear() {
    truncate(nullptr);
}

void List::truncate(Node* last) {
    while (last_ && last_ != last) remove(last_);
}

void* List::Iterator::next() {
    if (!node_) return nullptr;
    void* data = node_->data;
    node_ = node_->next;
    return data;
}

}  // namespace Base

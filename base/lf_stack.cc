#include "base/lf_stack.h"

namespace Base {

LFStack::LFStack(int prealloc) : pool_(new TaggedStack(prealloc)), pad_(), head_{0, nullptr} {}

LFStack::~LFStack() {
    clear();
    delete pool_;
}

TaggedNode* LFStack::make_node(void* data) {
    TaggedNode* n = pool_->take();
    Tagged::set_data(n, data);
    return n;
}

void LFStack::push(void* data) {
    Tagged::push(&head_, make_node(data));
}

void* LFStack::pop() {
    TaggedNode* n = Tagged::pop(&head_);
    if (!n) return nullptr;
    // The node is ours once the head has moved past it; read data before
    // handing the node back to the pool.
    void* data = Tagged::data_of(n);
    pool_->push(n);
    return data;
}

void* LFStack::top() const {
    for (;;) {
        TaggedPair head = Tagged::load(&head_);
        void* data = head.node ? Tagged::data_of(head.node) : nullptr;
        // Unchanged tag: no pop since the head was read, so data belonged to
        // a node that was on top. The acquire also orders the caller's reads
        // of data after the swap (a try_push or pop) that installed it.
        if (__atomic_load_n(&head_.tag, __ATOMIC_ACQUIRE) == head.tag) return data;
    }
}

bool LFStack::try_push(void* expected_top, void* data) {
    TaggedNode* node = make_node(data);
    for (;;) {
        TaggedPair old = Tagged::load(&head_);
        void* current = old.node ? Tagged::data_of(old.node) : nullptr;
        // A torn or stale read only fails the swap below, which rereads.
        if (current != expected_top) {
            if (Tagged::same(old, Tagged::load(&head_))) {
                pool_->push(node);
                return false;
            }
            continue;
        }
        // The full pair is compared so that a pop and push in between (same
        // top pointer, other data) fail the swap; the tag stays, as for
        // every push.
        Tagged::set_next(node, old.node);
        if (Tagged::cas(&head_, old, TaggedPair{old.tag, node})) return true;
    }
}

void LFStack::clear() {
    TaggedNode* n = head_.node;
    head_ = TaggedPair{0, nullptr};
    while (n) {
        TaggedNode* next = n->next;
        delete n;
        n = next;
    }
}

LFStack::Iterator::Iterator(const LFStack* stack) : node_(stack->head_.node) {}

void* LFStack::Iterator::next() {
    if (!node_) return nullptr;
    void* data = node_->data;
    node_ = node_->next;
    return data;
}

}  // namespace Base

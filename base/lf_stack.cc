#include "base/lf_stack.h"

namespace Base {

LFStack::LFStack(int prealloc)
    : counter_(1), pad0_(), pool_(new TaggedStack(prealloc)), pad1_(), head_{0, nullptr} {}

LFStack::~LFStack() {
    clear();
    delete pool_;
}

unsigned long LFStack::next_tag() {
    // relaxed: the counter only has to hand out distinct values.
    return __atomic_fetch_add(&counter_, 1, __ATOMIC_RELAXED);
}

TaggedNode* LFStack::make_node(void* data) {
    TaggedNode* n = pool_->take();
    Tagged::set_data(n, data);
    return n;
}

void LFStack::push(void* data) {
    Tagged::push(&head_, next_tag(), make_node(data));
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
    TaggedNode* n = Tagged::load(&head_).node;
    return n ? Tagged::data_of(n) : nullptr;
}

bool LFStack::try_push(void* expected_top, void* data) {
    TaggedNode* node = make_node(data);
    unsigned long tag = next_tag();
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
        Tagged::set_link(node, old.tag, old.node);
        if (Tagged::cas(&head_, old, TaggedPair{tag, node})) return true;
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

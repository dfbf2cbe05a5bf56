#include "base/lf_queue.h"

namespace Base {

namespace {

TaggedNode* new_dummy(TaggedStack* pool) {
    TaggedNode* n = pool->take();
    Tagged::set_link(n, 0, nullptr);
    Tagged::set_data(n, nullptr);
    return n;
}

}  // namespace

LFQueue::LFQueue(int prealloc)
    : counter_(1), pad0_(), pool_(new TaggedStack(prealloc)), pad1_(), pad2_() {
    TaggedNode* dummy = new_dummy(pool_);
    head_ = TaggedPair{0, dummy};
    tail_ = head_;
}

LFQueue::~LFQueue() {
    clear();
    delete head_.node;
    delete pool_;
}

void LFQueue::push(void* data) {
    TaggedNode* node = pool_->take();
    Tagged::set_data(node, data);
    Tagged::set_link(node, 0, nullptr);
    // relaxed: the counter only has to hand out distinct values.
    unsigned long tag = __atomic_fetch_add(&counter_, 1, __ATOMIC_RELAXED);
    TaggedPair old = Tagged::load(&tail_);
    while (!Tagged::cas(&tail_, old, TaggedPair{tag, node})) old = Tagged::load(&tail_);
    // old.node cannot leave the queue before this link exists: pop never
    // moves past a node whose next is null. The tag is written first and
    // the pointer with release, so a reader that sees the pointer sees the
    // tag and the node's data.
    __atomic_store_n(&old.node->tag, tag, __ATOMIC_RELAXED);
    __atomic_store_n(&old.node->next, node, __ATOMIC_RELEASE);
}

void* LFQueue::pop() {
    for (;;) {
        TaggedPair head = Tagged::load(&head_);
        // acquire: pairs with the release store of the link in push.
        TaggedNode* next = __atomic_load_n(&head.node->next, __ATOMIC_ACQUIRE);
        if (!next) {
            // The dummy may have been recycled under us; empty only if the
            // head is still the one whose next we read.
            if (Tagged::same(head, Tagged::load(&head_))) return nullptr;
            continue;
        }
        TaggedPair moved{Tagged::tag_of(head.node), next};
        // Read before the swap: once the head moves, next is the new dummy
        // and another consumer may recycle it.
        void* data = Tagged::data_of(next);
        if (Tagged::cas(&head_, head, moved)) {
            pool_->push(head.node);
            return data;
        }
    }
}

void LFQueue::clear() {
    TaggedNode* n = head_.node;
    while (n) {
        TaggedNode* next = n->next;
        delete n;
        n = next;
    }
    TaggedNode* dummy = new_dummy(pool_);
    head_ = TaggedPair{0, dummy};
    tail_ = head_;
}

}  // namespace Base

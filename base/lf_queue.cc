#include "base/lf_queue.h"

namespace Base {

namespace {

TaggedNode* new_dummy(TaggedStack* pool) {
    TaggedNode* n = pool->take();
    Tagged::set_next(n, nullptr);
    Tagged::set_data(n, nullptr);
    return n;
}

}  // namespace

LFQueue::LFQueue(int prealloc) : pool_(new TaggedStack(prealloc)), pad0_(), pad1_() {
    TaggedNode* dummy = new_dummy(pool_);
    head_ = TaggedPair{0, dummy};
    tail_ = dummy;
}

LFQueue::~LFQueue() {
    clear();
    delete head_.node;
    delete pool_;
}

void LFQueue::push(void* data) {
    TaggedNode* node = pool_->take();
    Tagged::set_data(node, data);
    Tagged::set_next(node, nullptr);
    // acq_rel: releases the node's fields to the producer that links behind
    // it, and acquires the previous tail so that we may link it. An
    // unconditional exchange cannot suffer ABA.
    TaggedNode* prev = __atomic_exchange_n(&tail_, node, __ATOMIC_ACQ_REL);
    // prev cannot leave the queue before this link exists: pop never moves
    // past a node whose next is null. release: a consumer that sees the link
    // sees the node's data.
    __atomic_store_n(&prev->next, node, __ATOMIC_RELEASE);
}

void* LFQueue::pop() {
    for (;;) {
        TaggedPair head = Tagged::load(&head_);
        // acquire: pairs with the release store of the link in push.
        TaggedNode* next = __atomic_load_n(&head.node->next, __ATOMIC_ACQUIRE);
        if (!next) {
            // The dummy may have been recycled under us; empty only if the
            // head has not moved since it was read.
            if (Tagged::same(head, Tagged::load(&head_))) return nullptr;
            continue;
        }
        // Read before the swap: once the head moves, next is the new dummy
        // and another consumer may recycle it.
        void* data = Tagged::data_of(next);
        // Every pop raises the tag, so a consumer holding a stale head fails
        // here even if the same node is the dummy again.
        if (Tagged::cas(&head_, head, TaggedPair{head.tag + 1, next})) {
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
    tail_ = dummy;
}

}  // namespace Base

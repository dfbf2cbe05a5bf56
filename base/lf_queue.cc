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

LFQueue::LFQueue(int prealloc)
    : pool_(new TaggedStack(prealloc)), pad0_(), pad1_(), pad2_(), returns_(nullptr) {
    TaggedNode* dummy = new_dummy(pool_);
    head_ = TaggedPair{0, dummy};
    tail_ = dummy;
}

LFQueue::~LFQueue() {
    clear();
    delete head_.node;
    TaggedNode* n = returns_;
    while (n) {
        TaggedNode* next = n->next;
        delete n;
        n = next;
    }
    delete pool_;
}

TaggedNode* LFQueue::take_node() {
    if (TaggedNode* n = pool_->pop()) return n;
    // acquire: the links written by the consumers that returned the nodes.
    // Taking the whole chain is an unconditional exchange: no ABA.
    TaggedNode* chain = __atomic_exchange_n(&returns_, nullptr, __ATOMIC_ACQUIRE);
    if (!chain) return new TaggedNode();
    TaggedNode* rest = Tagged::next_of(chain);
    if (rest) {
        TaggedNode* last = rest;
        while (TaggedNode* next = Tagged::next_of(last)) last = next;
        pool_->push_chain(rest, last);
    }
    return chain;
}

void LFQueue::give_node(TaggedNode* node) {
    // Push-only stack (emptied only by exchange), so a plain 8-byte swap is
    // free of ABA. release: the node's link is visible to the taker.
    TaggedNode* old = __atomic_load_n(&returns_, __ATOMIC_RELAXED);
    do {
        Tagged::set_next(node, old);
    } while (!__atomic_compare_exchange_n(&returns_, &old, node, true, __ATOMIC_RELEASE,
                                          __ATOMIC_RELAXED));
}

void LFQueue::push(void* data) {
    TaggedNode* node = take_node();
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
            give_node(head.node);
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

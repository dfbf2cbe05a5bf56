#include "base/tagged_stack.h"

namespace Base {

namespace Tagged {

void push(TaggedPair* head, unsigned long tag, TaggedNode* node) {
    TaggedPair old = load(head);
    for (;;) {
        set_link(node, old.tag, old.node);
        if (cas(head, old, TaggedPair{tag, node})) return;
        old = load(head);
    }
}

TaggedNode* pop(TaggedPair* head) {
    for (;;) {
        TaggedPair old = load(head);
        if (!old.node) return nullptr;
        // Nodes are never freed while the structure lives, so reading a node
        // that another thread has just taken is safe; the swap then fails.
        TaggedPair saved{tag_of(old.node), next_of(old.node)};
        if (cas(head, old, saved)) return old.node;
    }
}

}  // namespace Tagged

TaggedStack::TaggedStack(int prealloc) : counter_(1), pad_(), head_{0, nullptr} {
    for (int i = 0; i < prealloc; ++i) push(new TaggedNode());
}

TaggedStack::~TaggedStack() {
    clear();
}

void TaggedStack::push(TaggedNode* node) {
    // relaxed: the counter only has to hand out distinct values.
    unsigned long tag = __atomic_fetch_add(&counter_, 1, __ATOMIC_RELAXED);
    Tagged::push(&head_, tag, node);
}

TaggedNode* TaggedStack::pop() {
    return Tagged::pop(&head_);
}

TaggedNode* TaggedStack::take() {
    TaggedNode* n = pop();
    return n ? n : new TaggedNode();
}

void TaggedStack::clear() {
    while (TaggedNode* n = pop()) delete n;
}

}  // namespace Base

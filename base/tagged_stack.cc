#include "base/tagged_stack.h"

namespace Base {

namespace Tagged {

void push(TaggedPair* head, TaggedNode* node) {
    for (;;) {
        TaggedPair old = load(head);
        set_next(node, old.node);
        // The tag is kept: only pops raise it. The whole pair is swapped
        // because the head's two words must only ever change together (a
        // narrower swap on one half is not atomic against the 16-byte one
        // under every runtime, sanitizers included).
        if (cas(head, old, TaggedPair{old.tag, node})) return;
    }
}

TaggedNode* pop(TaggedPair* head) {
    for (;;) {
        TaggedPair old = load(head);
        if (!old.node) return nullptr;
        // Nodes are never freed while the structure lives, so reading a node
        // that another thread has just taken is safe; the swap then fails.
        TaggedPair next{old.tag + 1, next_of(old.node)};
        if (cas(head, old, next)) return old.node;
    }
}

}  // namespace Tagged

TaggedStack::TaggedStack(int prealloc) : head_{0, nullptr}, pad_() {
    for (int i = 0; i < prealloc; ++i) push(new TaggedNode());
}

TaggedStack::~TaggedStack() {
    clear();
}

void TaggedStack::push(TaggedNode* node) {
    Tagged::push(&head_, node);
}

void TaggedStack::push_chain(TaggedNode* first, TaggedNode* last) {
    for (;;) {
        TaggedPair old = Tagged::load(&head_);
        Tagged::set_next(last, old.node);
        if (Tagged::cas(&head_, old, TaggedPair{old.tag, first})) return;
    }
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

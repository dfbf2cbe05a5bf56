#ifndef XELMD_BASE_TAGGED_STACK_H
#define XELMD_BASE_TAGGED_STACK_H

namespace Base {

// A 32-byte node shared by the lock-free structures: the link, the
// caller's data and two spare words. Fields are read and written with
// atomic word accesses only, because stale readers may look at a node that
// another thread is reusing (the 16-byte compare-and-swap on the head then
// rejects what they read).
struct alignas(32) TaggedNode {
    unsigned long tag;
    TaggedNode* next;
    void* data;
    void* spare;
};

// A {tag, node} head, always changed as one 16-byte unit. Every pop raises
// the tag by one; a push keeps it (pushing is immune to ABA). So a stale
// pop, which expects the tag it read, fails once any other pop has happened
// in between.
struct alignas(16) TaggedPair {
    unsigned long tag;
    TaggedNode* node;
};

namespace Tagged {

// A consistent snapshot from two word loads: tag, node, tag again. The tag
// only grows, so an unchanged tag means the pair {tag, node} held when the
// node was read. Acquire on the second tag read orders what follows after
// the swap that installed the node (every change of the pair is a 16-byte
// swap, which publishes through the tag's word).
//
// If a later compare-and-swap against the snapshot succeeds, no pop
// happened in between, so the node stayed on top and anything read from it
// meanwhile is current.
inline TaggedPair load(const TaggedPair* p) {
    for (;;) {
        TaggedPair r;
        r.tag = __atomic_load_n(&p->tag, __ATOMIC_ACQUIRE);
        r.node = __atomic_load_n(&p->node, __ATOMIC_ACQUIRE);
        if (__atomic_load_n(&p->tag, __ATOMIC_ACQUIRE) == r.tag) return r;
    }
}

// 16-byte compare-and-swap (cmpxchg16b, a full barrier).
inline bool cas(TaggedPair* p, const TaggedPair& expected, const TaggedPair& desired) {
    unsigned __int128 e =
        static_cast<unsigned __int128>(expected.tag) |
        (static_cast<unsigned __int128>(reinterpret_cast<unsigned long>(expected.node)) << 64);
    unsigned __int128 d =
        static_cast<unsigned __int128>(desired.tag) |
        (static_cast<unsigned __int128>(reinterpret_cast<unsigned long>(desired.node)) << 64);
    return __sync_bool_compare_and_swap(reinterpret_cast<unsigned __int128*>(p), e, d);
}

inline bool same(const TaggedPair& a, const TaggedPair& b) {
    return a.tag == b.tag && a.node == b.node;
}

// Relaxed node field accesses: ordering comes from the head's release
// operations and the acquire loads of the head.
inline TaggedNode* next_of(const TaggedNode* n) {
    return __atomic_load_n(&n->next, __ATOMIC_RELAXED);
}
inline void* data_of(const TaggedNode* n) {
    return __atomic_load_n(&n->data, __ATOMIC_RELAXED);
}
inline void set_next(TaggedNode* n, TaggedNode* next) {
    __atomic_store_n(&n->next, next, __ATOMIC_RELAXED);
}
inline void set_data(TaggedNode* n, void* data) {
    __atomic_store_n(&n->data, data, __ATOMIC_RELAXED);
}

// Stack discipline shared by TaggedStack and LFStack.
void push(TaggedPair* head, TaggedNode* node);
TaggedNode* pop(TaggedPair* head);

}  // namespace Tagged

// Lock-free pool of TaggedNodes (LIFO). Any thread; lock-free, except
// clear() and the destructor, which need exclusive use. Owns the nodes it
// holds: clear() and the destructor delete them.
class alignas(64) TaggedStack {
  public:
    explicit TaggedStack(int prealloc);
    ~TaggedStack();
    TaggedStack(const TaggedStack&) = delete;
    TaggedStack& operator=(const TaggedStack&) = delete;

    void push(TaggedNode* node);
    // Pushes the chain first..last (linked through next) in one swap.
    void push_chain(TaggedNode* first, TaggedNode* last);
    // Null when empty.
    TaggedNode* pop();
    void clear();

    // A node from the pool, or a new one when the pool is empty.
    TaggedNode* take();

  private:
    // The head fills its own 64-byte line (the class is line-aligned) so
    // that no neighbouring heap object shares it.
    TaggedPair head_;
    char pad_[48];
};

}  // namespace Base

#endif  // XELMD_BASE_TAGGED_STACK_H

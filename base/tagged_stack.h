#ifndef XELMD_BASE_TAGGED_STACK_H
#define XELMD_BASE_TAGGED_STACK_H

namespace Base {

// A 32-byte node shared by the lock-free structures. While a node is in a
// structure, {tag, next} is the pair that structure saved in it; data is the
// caller's pointer. Fields are read and written with atomic word accesses
// only, because stale readers may look at a node another thread reuses (the
// 16-byte compare-and-swap on the head then rejects what they read).
struct TaggedNode {
    unsigned long tag;
    TaggedNode* next;
    void* data;
    void* spare;
};

// A {tag, node} head word, swung as one 16-byte unit.
struct alignas(16) TaggedPair {
    unsigned long tag;
    TaggedNode* node;
};

namespace Tagged {

// Reads the two halves separately. The halves may come from two states; a
// compare-and-swap against the result then fails and retries. The node is
// read first and the tag second, with acquire: the tag word is where the
// pair's compare-and-swap publishes, so the later tag read makes everything
// written before the swap that installed the node visible.
inline TaggedPair load(const TaggedPair* p) {
    TaggedPair r;
    r.node = __atomic_load_n(&p->node, __ATOMIC_ACQUIRE);
    r.tag = __atomic_load_n(&p->tag, __ATOMIC_ACQUIRE);
    return r;
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

// Relaxed node field accesses: ordering comes from the head's
// compare-and-swap (release) and the acquire load of the head.
inline TaggedNode* next_of(const TaggedNode* n) {
    return __atomic_load_n(&n->next, __ATOMIC_RELAXED);
}
inline unsigned long tag_of(const TaggedNode* n) {
    return __atomic_load_n(&n->tag, __ATOMIC_RELAXED);
}
inline void* data_of(const TaggedNode* n) {
    return __atomic_load_n(&n->data, __ATOMIC_RELAXED);
}
inline void set_link(TaggedNode* n, unsigned long tag, TaggedNode* next) {
    __atomic_store_n(&n->tag, tag, __ATOMIC_RELAXED);
    __atomic_store_n(&n->next, next, __ATOMIC_RELAXED);
}
inline void set_data(TaggedNode* n, void* data) {
    __atomic_store_n(&n->data, data, __ATOMIC_RELAXED);
}

// Stack discipline shared by TaggedStack and LFStack: a pushed node saves the
// head pair it covers and the head becomes {fresh tag, node}; a pop restores
// the saved pair. Tags are unique per push, so a pair names one stay of one
// node on the stack and a stale pop can never succeed.
void push(TaggedPair* head, unsigned long tag, TaggedNode* node);
TaggedNode* pop(TaggedPair* head);

}  // namespace Tagged

// Lock-free pool of TaggedNodes (LIFO). Any thread; lock-free, except
// clear() and the destructor, which need exclusive use. Owns the nodes it
// holds: clear() and the destructor delete them.
class TaggedStack {
  public:
    explicit TaggedStack(int prealloc);
    ~TaggedStack();
    TaggedStack(const TaggedStack&) = delete;
    TaggedStack& operator=(const TaggedStack&) = delete;

    void push(TaggedNode* node);
    // Null when empty.
    TaggedNode* pop();
    void clear();

    // A node from the pool, or a new one when the pool is empty.
    TaggedNode* take();

  private:
    unsigned long counter_;
    char pad_[56];
    TaggedPair head_;
};

}  // namespace Base

#endif  // XELMD_BASE_TAGGED_STACK_H

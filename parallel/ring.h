#ifndef XELMD_PARALLEL_RING_H
#define XELMD_PARALLEL_RING_H

namespace Parallel {

// Intrusive circular doubly-linked list through T's prev_ and next_ links.
// A node whose links point to itself is unlinked; a sentinel node of type T
// heads each list. Used only by the thread that owns the list.
template <class T>
struct Ring {
    static void reset(T* node) { node->prev_ = node->next_ = node; }
    static bool is_linked(const T* node) { return node->next_ != node; }

    static void insert_before(T* node, T* pos) {
        node->prev_ = pos->prev_;
        node->next_ = pos;
        pos->prev_->next_ = node;
        pos->prev_ = node;
    }

    static void remove(T* node) {
        node->prev_->next_ = node->next_;
        node->next_->prev_ = node->prev_;
        reset(node);
    }

    static void move_before(T* node, T* pos) {
        if (node == pos || node->next_ == pos) return;
        remove(node);
        insert_before(node, pos);
    }
};

}  // namespace Parallel

#endif  // XELMD_PARALLEL_RING_H

#ifndef XELMD_PARALLEL_RING_H
#define XELMD_PARALLEL_RING_H

#include <atomic>

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

// A reactor's handlers or descriptors: active members in front of a divider,
// parked ones behind it. A member's last-active time is the loop time of its
// activation, 0 while parked. The divider is linked by the owner and not
// counted. The reactor thread only; the count may be read anywhere as a
// snapshot.
template <class T>
class RingList {
  public:
    RingList(T* head, T* divider) : head_(head), divider_(divider), count_(0) {}
    RingList(const RingList&) = delete;
    RingList& operator=(const RingList&) = delete;

    T* front() const { return head_->next_; }
    // The divider or, before it is linked, the head: where active ones end.
    bool is_end(const T* node) const { return node == divider_ || node == head_; }
    int count() const { return count_.load(std::memory_order_relaxed); }

    // Links at the front (active); false when it is already in a list.
    bool add(T* node) {
        if (Ring<T>::is_linked(node)) return false;
        Ring<T>::insert_before(node, head_->next_);
        count_.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    // False when it was not linked.
    bool remove(T* node) {
        if (!Ring<T>::is_linked(node)) return false;
        Ring<T>::remove(node);
        count_.fetch_sub(1, std::memory_order_relaxed);
        return true;
    }
    void activate(T* node, unsigned long now) {
        if (!Ring<T>::is_linked(node)) return;
        Ring<T>::move_before(node, head_->next_);
        node->last_active_ = now;
    }
    void park(T* node) {
        if (!Ring<T>::is_linked(node)) return;
        Ring<T>::move_before(node, head_);
        node->last_active_ = 0;
    }
    // Moves the first active member just in front of the divider, so that
    // the next sweep starts with the one after it.
    void rotate() {
        T* first = head_->next_;
        if (!is_end(first)) Ring<T>::move_before(first, divider_);
    }
    // Unlinks every member left and destroys it (the divider must be gone).
    void destroy_all() {
        while (Ring<T>::is_linked(head_)) {
            T* node = head_->next_;
            Ring<T>::remove(node);
            delete node;
        }
        count_.store(0, std::memory_order_relaxed);
    }

  private:
    T* head_;
    T* divider_;
    // Written by the reactor thread only; atomic so others may read it.
    std::atomic<int> count_;
};

}  // namespace Parallel

#endif  // XELMD_PARALLEL_RING_H

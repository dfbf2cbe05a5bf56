#ifndef XELMD_BASE_QUEUE_H
#define XELMD_BASE_QUEUE_H

#include "base/node_pool.h"

namespace Base {

// FIFO of pointers: push at the tail, pop at the head. One thread at a
// time. A stored null cannot be told from empty.
class Queue {
  public:
    struct Node {
        void* data;
        Node* next;
    };

    Queue(bool pooled, int prealloc);
    ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    void push(void* data);
    // Null when empty.
    void* pop();
    void* head() const { return head_ ? head_->data : nullptr; }
    void* tail() const { return tail_ ? tail_->data : nullptr; }
    int get_count() const { return count_; }
    void clear();

    // Head to tail; the queue must not change during the walk.
    class Iterator {
      public:
        explicit Iterator(const Queue* queue) : node_(queue->head_) {}
        void* next();

      private:
        Node* node_;
    };

  private:
    NodePool<Node> pool_;
    int count_;
    Node* head_;
    Node* tail_;
};

}  // namespace Base

#endif  // XELMD_BASE_QUEUE_H

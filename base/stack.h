#ifndef XELMD_BASE_STACK_H
#define XELMD_BASE_STACK_H

#include "base/node_pool.h"

namespace Base {

// LIFO of pointers. One thread at a time. A stored null cannot be told from
// empty.
class Stack {
  public:
    struct Node {
        void* data;
        Node* next;
    };

    Stack(bool pooled, int prealloc);
    ~Stack();
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;

    void push(void* data);
    // Null when empty.
    void* pop();
    void* top() const { return top_ ? top_->data : nullptr; }
    int get_count() const { return count_; }
    void clear();

    // Top down; the stack must not change during the walk.
    class Iterator {
      public:
        explicit Iterator(const Stack* stack) : node_(stack->top_) {}
        void* next();

      private:
        Node* node_;
    };

  private:
    NodePool<Node> pool_;
    int count_;
    Node* top_;
};

}  // namespace Base

#endif  // XELMD_BASE_STACK_H

#ifndef XELMD_BASE_LF_STACK_H
#define XELMD_BASE_LF_STACK_H

#include "base/tagged_stack.h"

namespace Base {

// Lock-free LIFO of pointers. Any thread; push, pop, top and try_push are
// lock-free; clear(), the destructor and Iterator need exclusive use. Nodes
// are pooled for the stack's lifetime. A stored null cannot be told from
// empty.
class LFStack {
  public:
    explicit LFStack(int prealloc);
    ~LFStack();
    LFStack(const LFStack&) = delete;
    LFStack& operator=(const LFStack&) = delete;

    void push(void* data);
    // Null when empty.
    void* pop();
    // The top element without removing it; null when empty.
    void* top() const;
    // Pushes only while the top element is expected_top (null: the stack is
    // empty); otherwise returns false and leaves the stack unchanged.
    bool try_push(void* expected_top, void* data);
    void clear();

    // Walks the elements from the top down; exclusive use only.
    class Iterator {
      public:
        explicit Iterator(const LFStack* stack);
        // Null after the last element.
        void* next();

      private:
        TaggedNode* node_;
    };

  private:
    TaggedNode* make_node(void* data);

    // The node pool and the head pair sit in separate 64-byte lines.
    TaggedStack* pool_;
    char pad_[56];
    TaggedPair head_;
};

}  // namespace Base

#endif  // XELMD_BASE_LF_STACK_H

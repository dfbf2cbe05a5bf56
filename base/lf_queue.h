#ifndef XELMD_BASE_LF_QUEUE_H
#define XELMD_BASE_LF_QUEUE_H

#include "base/tagged_stack.h"

namespace Base {

// Lock-free FIFO of pointers. Any thread; push and pop are lock-free;
// clear() and the destructor need exclusive use. Nodes are pooled for the
// queue's lifetime. A stored null cannot be told from empty.
//
// The head names a dummy node; the elements are the data of the nodes after
// it. push swaps the tail to its node, then links the previous tail node to
// it, so an element becomes visible to pop once that link is in place.
class LFQueue {
  public:
    explicit LFQueue(int prealloc);
    ~LFQueue();
    LFQueue(const LFQueue&) = delete;
    LFQueue& operator=(const LFQueue&) = delete;

    void push(void* data);
    // Null when empty.
    void* pop();
    void clear();

  private:
    TaggedNode* take_node();
    void give_node(TaggedNode* node);

    // Hot words in separate 64-byte lines: node pool (taken from by
    // producers), head pair (swung by consumers), tail node (swapped by
    // producers), returned nodes (pushed by consumers).
    //
    // Consumers hand spent nodes to returns_, and a producer whose pool runs
    // dry takes that whole chain at once into the pool. So in steady state
    // each side works on its own lines instead of both sides swapping the
    // pool head for every element.
    TaggedStack* pool_;
    char pad0_[56];
    TaggedPair head_;
    char pad1_[48];
    TaggedNode* tail_;
    char pad2_[56];
    TaggedNode* returns_;
};

}  // namespace Base

#endif  // XELMD_BASE_LF_QUEUE_H

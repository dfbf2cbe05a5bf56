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
    // Hot words in separate 64-byte lines: node pool, head pair (swung by
    // consumers), tail node (swapped by producers).
    TaggedStack* pool_;
    char pad0_[56];
    TaggedPair head_;
    char pad1_[48];
    TaggedNode* tail_;
};

}  // namespace Base

#endif  // XELMD_BASE_LF_QUEUE_H

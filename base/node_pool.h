#ifndef XELMD_BASE_NODE_POOL_H
#define XELMD_BASE_NODE_POOL_H

namespace Base {

// Free list of container nodes linked through their next field. With
// pooling off, nodes are deleted as soon as they are given back. Belongs to
// its container's thread.
template <typename Node>
class NodePool {
  public:
    NodePool(bool pooled, int prealloc) : pooled_(pooled), free_(nullptr) {
        for (int i = 0; pooled && i < prealloc; ++i) give(new Node());
    }
    ~NodePool() {
        while (free_) {
            Node* next = free_->next;
            delete free_;
            free_ = next;
        }
    }
    NodePool(const NodePool&) = delete;
    NodePool& operator=(const NodePool&) = delete;

    Node* take() {
        Node* n = free_;
        if (!n) return new Node();
        free_ = n->next;
        return n;
    }
    void give(Node* n) {
        if (!pooled_) {
            delete n;
            return;
        }
        n->next = free_;
        free_ = n;
    }

  private:
    bool pooled_;
    Node* free_;
};

}  // namespace Base

#endif  // XELMD_BASE_NODE_POOL_H

#ifndef XELMD_BASE_LIST_H
#define XELMD_BASE_LIST_H

#include "base/node_pool.h"

namespace Base {

// Doubly linked list of pointers; nodes are handed out so callers can insert
// or remove around them. One thread at a time. A stored null cannot be told
// from empty in pop results.
class List {
  public:
    struct Node {
        void* data;
        Node* prev;
        Node* next;
    };

    // pooled keeps removed nodes for reuse; prealloc nodes are made at once.
    List(bool pooled, int prealloc);
    ~List();
    List(const List&) = delete;
    List& operator=(const List&) = delete;

    Node* push_back(void* data);
    Node* push_front(void* data);
    // Inserts behind after (at the back when after is null).
    Node* push_back(void* data, Node* after);
    // Inserts in front of before (at the front when before is null).
    Node* push_front(void* data, Node* before);
    // Unlinks node (which must be in this list) and returns its data.
    void* remove(Node* node);
    void* pop_back();
    void* pop_front();
    void clear();
    // Removes nodes from the back until last is the last one (all for null).
    void truncate(Node* last);

    Node* get_first() const { return first_; }
    Node* get_last() const { return last_; }
    int get_count() const { return count_; }

    // Front to back; the list must not change during the walk.
    class Iterator {
      public:
        explicit Iterator(const List* list) : node_(list->first_) {}
        // Null after the last element.
        void* next();

      private:
        Node* node_;
    };

  private:
    Node* link(void* data, Node* prev, Node* next);

    NodePool<Node> pool_;
    int count_;
    Node* first_;
    Node* last_;
};

}  // namespace Base

#endif  // XELMD_BASE_LIST_H

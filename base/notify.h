#ifndef XELMD_BASE_NOTIFY_H
#define XELMD_BASE_NOTIFY_H

#include <stdint.h>

#include <atomic>

#include "base/list.h"

namespace Base {

class NotifyGroup;

// Something to wake when data arrives, bound to the group (an event thread)
// that runs it. Constructed and woken on any thread; wakeup must be safe
// from any thread.
class Notify {
  public:
    // A group of null is only for a NotifyGroup, which is its own group.
    explicit Notify(NotifyGroup* group) : group_(group) {}
    virtual ~Notify() {}
    Notify(const Notify&) = delete;
    Notify& operator=(const Notify&) = delete;

    // Called from another thread it wakes the group from its idle wait;
    // from the group's own thread it extends the busy window.
    virtual void wakeup(bool immediately) = 0;
    NotifyGroup* get_group() const { return group_; }

  protected:
    NotifyGroup* group_;
};

// A notify that is its own group: the thread that runs a set of notifies.
class NotifyGroup : public Notify {
  public:
    NotifyGroup();
    // Runs the notifies of one producer's consumer list.
    virtual void notify(List* notifies) = 0;
};

// The notifies of one group registered with one producer. The list is
// changed only on the group's thread; consume() may run on any thread.
class Consumer {
  public:
    explicit Consumer(NotifyGroup* group);
    virtual ~Consumer();
    Consumer(const Consumer&) = delete;
    Consumer& operator=(const Consumer&) = delete;

    // Appends notify (null and no entry for the group itself).
    List::Node* add(Notify* notify);
    void remove(Notify* notify, List::Node* node);
    void consume() { group_->wakeup(true); }

    NotifyGroup* get_group() const { return group_; }
    List* get_list() { return &list_; }

  private:
    NotifyGroup* group_;
    List list_;
};

// Wakes every group that registered a notify with it. Slots are claimed by
// compare-and-swap on the count and published once their consumer is built,
// so add (on a group's thread) and produce (any thread) run concurrently.
// Consumers stay until the producer is destroyed.
class Producer {
  public:
    static constexpr int MAX_CONSUMERS = 64;

    Producer();
    virtual ~Producer();
    Producer(const Producer&) = delete;
    Producer& operator=(const Producer&) = delete;

    // The consumer of notify's group, made on first use; node is notify's
    // entry in it (null for the group itself). Null when all slots are taken.
    Consumer* add(Notify* notify, List::Node*& node);
    void remove(Consumer* consumer, Notify* notify, List::Node* node);
    // Wakes each published consumer's group in slot order; returns the count.
    int produce();

    int get_count() const { return count_.load(std::memory_order_acquire); }
    uint64_t get_last_produce() const { return last_produce_.load(std::memory_order_relaxed); }

  private:
    Consumer* find(NotifyGroup* group) const;

    std::atomic<int> count_;
    std::atomic<Consumer*> slots_[MAX_CONSUMERS];
    std::atomic<uint64_t> last_produce_;
};

}  // namespace Base

#endif  // XELMD_BASE_NOTIFY_H

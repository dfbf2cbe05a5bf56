#include "base/notify.h"

namespace Base {

namespace {
// Notifies per group are few; keep removed nodes for reuse.
constexpr int CONSUMER_PREALLOC = 4;
}  // namespace

NotifyGroup::NotifyGroup() : Notify(nullptr) {
    group_ = this;
}

Consumer::Consumer(NotifyGroup* group) : group_(group), list_(true, CONSUMER_PREALLOC) {}

Consumer::~Consumer() {}

List::Node* Consumer::add(Notify* notify) {
    if (notify == group_) return nullptr;
    return list_.push_back(notify);
}

void Consumer::remove(Notify* notify, List::Node* node) {
    if (notify == group_ || !node) return;
    list_.remove(node);
}

Producer::Producer() : count_(0), last_produce_(0) {
    for (auto& slot : slots_) slot.store(nullptr, std::memory_order_relaxed);
}

Producer::~Producer() {
    for (auto& slot : slots_) delete slot.load(std::memory_order_acquire);
}

Consumer* Producer::find(NotifyGroup* group) const {
    // acquire: a slot below the count may still be filling (null), which
    // belongs to another group, since a group only adds from its own thread.
    int n = count_.load(std::memory_order_acquire);
    if (n > MAX_CONSUMERS) n = MAX_CONSUMERS;
    for (int i = 0; i < n; ++i) {
        // acquire: pairs with the release that published the consumer.
        Consumer* c = slots_[i].load(std::memory_order_acquire);
        if (c && c->get_group() == group) return c;
    }
    return nullptr;
}

Consumer* Producer::add(Notify* notify, List::Node*& node) {
    node = nullptr;
    if (!notify || !notify->get_group()) return nullptr;
    NotifyGroup* group = notify->get_group();
    if (Consumer* c = find(group)) {
        node = c->add(notify);
        return c;
    }
    // relaxed: the count only hands out slot numbers; the slot's own
    // release store publishes the consumer.
    int n = count_.load(std::memory_order_relaxed);
    do {
        if (n >= MAX_CONSUMERS) return nullptr;
    } while (!count_.compare_exchange_weak(n, n + 1, std::memory_order_relaxed));
    Consumer* c = new Consumer(group);
    node = c->add(notify);
    // release: produce() must see a fully built consumer.
    slots_[n].store(c, std::memory_order_release);
    return c;
}

void Producer::remove(Consumer* consumer, Notify* notify, List::Node* node) {
    if (consumer && notify) consumer->remove(notify, node);
}

int Producer::produce() {
    // relaxed: a slot claimed after this read is simply woken next time.
    int n = count_.load(std::memory_order_relaxed);
    if (n == 0) return 0;
    for (int i = 0; i < n && i < MAX_CONSUMERS; ++i) {
        // acquire: pairs with the publishing store in add().
        Consumer* c = slots_[i].load(std::memory_order_acquire);
        if (!c) break;  // claimed but not built yet
        c->consume();
    }
    // No produce clock is kept in this configuration. relaxed: statistics.
    last_produce_.store(0, std::memory_order_relaxed);
    return n;
}

}  // namespace Base

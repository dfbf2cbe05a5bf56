#include "tools/bridge/update_queue.h"

#include <chrono>

namespace Bridge {

bool UpdateQueue::push(const Update& update) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ >= capacity_) return false;
        if (count_ == ring_.size()) grow();
        size_t at = head_ + count_;
        if (at >= ring_.size()) at -= ring_.size();
        ring_[at] = update;
        ++count_;
    }
    ready_.notify_one();
    return true;
}

bool UpdateQueue::pop(Update& update, int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    // A waiting entry is taken without reading the clock the wait needs.
    if (count_ == 0 && !ready_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                        [this] { return count_ != 0; }))
        return false;
    update = ring_[head_];
    if (++head_ == ring_.size()) head_ = 0;
    if (--count_ == 0) {
        head_ = 0;
        if (ring_.size() > KEEP) std::vector<Update>(KEEP).swap(ring_);
    }
    return true;
}

size_t UpdateQueue::size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

// Entries keep their order: the oldest moves to the front.
void UpdateQueue::grow() {
    size_t size = ring_.empty() ? 64 : 2 * ring_.size();
    if (size > capacity_) size = capacity_;
    std::vector<Update> next(size);
    for (size_t i = 0; i < count_; ++i) {
        size_t from = head_ + i;
        if (from >= ring_.size()) from -= ring_.size();
        next[i] = ring_[from];
    }
    ring_.swap(next);
    head_ = 0;
}

}  // namespace Bridge

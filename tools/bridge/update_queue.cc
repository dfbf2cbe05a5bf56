#include "tools/bridge/update_queue.h"

#include <chrono>

namespace Bridge {

bool UpdateQueue::push(const Update& update) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (entries_.size() >= capacity_) return false;
        entries_.push_back(update);
    }
    ready_.notify_one();
    return true;
}

bool UpdateQueue::pop(Update& update, int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ready_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                         [this] { return !entries_.empty(); }))
        return false;
    update = entries_.front();
    entries_.pop_front();
    return true;
}

size_t UpdateQueue::size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

}  // namespace Bridge

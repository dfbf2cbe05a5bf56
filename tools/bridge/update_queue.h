#ifndef XELMD_TOOLS_BRIDGE_UPDATE_QUEUE_H
#define XELMD_TOOLS_BRIDGE_UPDATE_QUEUE_H

#include <condition_variable>
#include <deque>
#include <mutex>

#include "tools/bridge/update.h"

namespace Bridge {

// The bounded hand-over from the library's network thread to the publisher
// thread. push never waits for room: a full queue refuses, so the library's
// callbacks never block on NATS. Any threads.
class UpdateQueue {
  public:
    explicit UpdateQueue(size_t capacity) : capacity_(capacity) {}
    // False (the update not taken) when capacity entries are waiting.
    bool push(const Update& update);
    // Waits up to timeout_ms for an entry; false when none came.
    bool pop(Update& update, int timeout_ms);
    size_t size();
    size_t capacity() const { return capacity_; }

  private:
    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Update> entries_;
};

}  // namespace Bridge

#endif  // XELMD_TOOLS_BRIDGE_UPDATE_QUEUE_H

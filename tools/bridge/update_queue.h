#ifndef XELMD_TOOLS_BRIDGE_UPDATE_QUEUE_H
#define XELMD_TOOLS_BRIDGE_UPDATE_QUEUE_H

#include <condition_variable>
#include <mutex>
#include <vector>

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
    // A ring that grows by doubling up to the capacity: an update is copied
    // in and out, with no allocation per entry. Emptied after a burst, it
    // goes back to KEEP entries.
    static constexpr size_t KEEP = 4096;
    void grow();

    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<Update> ring_;
    size_t head_ = 0;
    size_t count_ = 0;
};

}  // namespace Bridge

#endif  // XELMD_TOOLS_BRIDGE_UPDATE_QUEUE_H

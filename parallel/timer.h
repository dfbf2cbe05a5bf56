#ifndef XELMD_PARALLEL_TIMER_H
#define XELMD_PARALLEL_TIMER_H

#include <atomic>

namespace Parallel {

class Handler;

// A timer record, owned and recycled by its reactor. The caller of
// add_timer fills it before posting; afterwards only the reactor thread
// touches it. generation and enabled are atomics because a stale heap entry
// may make the reactor look at a record that another thread is refilling;
// relaxed suffices there since generations only grow, so a stale entry
// never matches whatever it reads.
struct Timer {
    int id;
    Handler* handler;  // null: the reactor's own on_timer
    int interval;      // microseconds
    std::atomic<unsigned long> generation;
    bool at_once;
    std::atomic<bool> enabled;

    unsigned long get_generation() const { return generation.load(std::memory_order_relaxed); }
    void set_generation(unsigned long g) { generation.store(g, std::memory_order_relaxed); }
    bool is_enabled() const { return enabled.load(std::memory_order_relaxed); }
    void set_enabled(bool e) { enabled.store(e, std::memory_order_relaxed); }
};

// One scheduling of a timer, kept by value in the reactor's heap.
struct TimerEntry {
    Timer* timer;
    unsigned long generation;
    unsigned long due;  // clock ticks
};

// Heap order: 1 when a is due earlier than b, so the earliest is on top.
int compare_timer(const void* a, const void* b);

}  // namespace Parallel

#endif  // XELMD_PARALLEL_TIMER_H

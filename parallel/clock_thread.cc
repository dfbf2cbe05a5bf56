#include "parallel/clock_thread.h"

#include <sys/select.h>

#include "base/measure.h"

namespace Parallel {

// Set when the library is loaded, so it is never 0 for a reader.
std::atomic<unsigned long> g_global_clock(Base::Measure::get_clock());
bool g_enable_global_clock = false;

namespace {

// Readers want a recent value, not an ordering with other data: relaxed.
void publish() {
    g_global_clock.store(Base::Measure::get_clock(), std::memory_order_relaxed);
}

}  // namespace

ClockThread::ClockThread() : Thread("clock_thread") {
    publish();
}

void ClockThread::loop_proc() {
    publish();
    timeval timeout = {0, 1};
    select(0, nullptr, nullptr, nullptr, &timeout);
}

}  // namespace Parallel

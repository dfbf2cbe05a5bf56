#ifndef XELMD_PARALLEL_CLOCK_THREAD_H
#define XELMD_PARALLEL_CLOCK_THREAD_H

#include <atomic>

#include "parallel/thread.h"

namespace Parallel {

// The clock as last published, in 100 ns ticks; any thread.
extern std::atomic<unsigned long> g_global_clock;
// Whether readers take the published clock instead of reading their own;
// off, and nothing switches it on.
extern bool g_enable_global_clock;

// Publishes the clock in g_global_clock about once a microsecond. Owner
// thread for create/stop/join.
class ClockThread : public Thread {
  public:
    ClockThread();

  protected:
    void loop_proc() override;
};

}  // namespace Parallel

#endif  // XELMD_PARALLEL_CLOCK_THREAD_H

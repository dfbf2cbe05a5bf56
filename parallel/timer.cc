#include "parallel/timer.h"

namespace Parallel {

static_assert(sizeof(Timer) == 40, "timer records are 40 bytes");
static_assert(sizeof(TimerEntry) == 24, "heap entries are 24 bytes");

int compare_timer(const void* a, const void* b) {
    unsigned long due_a = static_cast<const TimerEntry*>(a)->due;
    unsigned long due_b = static_cast<const TimerEntry*>(b)->due;
    if (due_a < due_b) return 1;
    return due_a > due_b ? -1 : 0;
}

}  // namespace Parallel

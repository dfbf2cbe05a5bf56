#ifndef XELMD_BASE_MEASURE_H
#define XELMD_BASE_MEASURE_H

namespace Base {

// The system clock in ticks of 100 ns. Static functions; any thread, lock-free.
class Measure {
  public:
    static constexpr unsigned long TICKS_PER_SECOND = 10000000UL;

    // Epoch-based at the first call, then advanced by CLOCK_MONOTONIC only, so
    // setting the wall clock never makes it jump.
    static unsigned long get_clock();
    // CLOCK_MONOTONIC_COARSE in ticks; not anchored to the epoch.
    static unsigned long get_coarse_clock();
    // CLOCK_REALTIME in ticks.
    static unsigned long get_local_clock();
    static void sleep(unsigned int ms);
    // Busy-waits until get_clock() has advanced by ticks.
    static void delay(unsigned long ticks);
    // Local time of a clock reading as YYMMDDhhmmss * 10^7 + tick in the second.
    static unsigned long get_time(unsigned long clock);
    // Inverse of get_time; mktime decides daylight saving.
    static unsigned long to_clock(unsigned long value);
};

}  // namespace Base

#endif  // XELMD_BASE_MEASURE_H

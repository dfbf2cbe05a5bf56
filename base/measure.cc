#include "base/measure.h"

#include <time.h>
#include <unistd.h>

#include <atomic>

namespace Base {

namespace {

unsigned long read_ticks(clockid_t id) {
    timespec ts;
    clock_gettime(id, &ts);
    return static_cast<unsigned long>(ts.tv_sec) * Measure::TICKS_PER_SECOND +
           static_cast<unsigned long>(ts.tv_nsec) / 100;
}

// begin - monotonic base, fixed once. Keeping the pair as one difference lets
// a single compare-and-swap make every racing first caller agree on it. It is
// never 0 in practice: the wall clock is decades ahead of the boot-based one.
std::atomic<unsigned long> g_clock_offset{0};

unsigned long anchor_offset() {
    unsigned long begin = read_ticks(CLOCK_REALTIME);
    unsigned long base = read_ticks(CLOCK_MONOTONIC);
    unsigned long expected = 0;
    unsigned long offset = begin - base;
    // acq_rel: publishes our offset, or acquires the winner's on failure.
    if (!g_clock_offset.compare_exchange_strong(expected, offset, std::memory_order_acq_rel))
        return expected;
    return offset;
}

}  // namespace

unsigned long Measure::get_clock() {
    // relaxed: the offset is a self-contained value written once.
    unsigned long offset = g_clock_offset.load(std::memory_order_relaxed);
    if (offset == 0) offset = anchor_offset();
    return offset + read_ticks(CLOCK_MONOTONIC);
}

unsigned long Measure::get_coarse_clock() {
    return read_ticks(CLOCK_MONOTONIC_COARSE);
}

unsigned long Measure::get_local_clock() {
    return read_ticks(CLOCK_REALTIME);
}

void Measure::sleep(unsigned int ms) {
    usleep(static_cast<useconds_t>(ms) * 1000);
}

void Measure::delay(unsigned long ticks) {
    if (ticks == 0) return;
    unsigned long start = get_clock();
    while (get_clock() - start < ticks) {
    }
}

unsigned long Measure::get_time(unsigned long clock) {
    time_t s = static_cast<time_t>(clock / TICKS_PER_SECOND);
    tm t;
    if (!localtime_r(&s, &t)) return 0;
    unsigned long date = static_cast<unsigned long>((t.tm_year + 1900 - 2000) * 10000 +
                                                    (t.tm_mon + 1) * 100 + t.tm_mday);
    unsigned long hms = static_cast<unsigned long>(t.tm_hour * 10000 + t.tm_min * 100 + t.tm_sec);
    return (date * 1000000UL + hms) * TICKS_PER_SECOND + clock % TICKS_PER_SECOND;
}

unsigned long Measure::to_clock(unsigned long value) {
    unsigned long hms = value / TICKS_PER_SECOND % 1000000UL;
    unsigned long ymd = value / 10000000000000UL;
    tm t = {};
    t.tm_year = static_cast<int>(ymd / 10000) + 2000 - 1900;
    t.tm_mon = static_cast<int>(ymd / 100 % 100) - 1;
    t.tm_mday = static_cast<int>(ymd % 100);
    t.tm_hour = static_cast<int>(hms / 10000);
    t.tm_min = static_cast<int>(hms / 100 % 100);
    t.tm_sec = static_cast<int>(hms % 100);
    t.tm_isdst = -1;
    time_t s = mktime(&t);
    return static_cast<unsigned long>(s) * TICKS_PER_SECOND + value % TICKS_PER_SECOND;
}

}  // namespace Base

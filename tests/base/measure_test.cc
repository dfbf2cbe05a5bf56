#include "base/measure.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

unsigned long ticks_of(clockid_t clock) {
    timespec ts;
    clock_gettime(clock, &ts);
    return ts.tv_sec * 10000000UL + ts.tv_nsec / 100;
}

// TZ fixed for the scope; tests run with it unset.
struct Zone {
    explicit Zone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    ~Zone() {
        unsetenv("TZ");
        tzset();
    }
};

TEST(Measure, ClockIsAnchoredToTheEpochAndNeverGoesBackOnAnyThread) {
    unsigned long before = ticks_of(CLOCK_REALTIME);
    unsigned long c = Base::Measure::get_clock();
    unsigned long after = ticks_of(CLOCK_REALTIME);
    // The anchor may have been fixed earlier in the process, so allow the
    // monotonic and wall clocks to have drifted by a second at most.
    EXPECT_GT(c + 10000000UL, before);
    EXPECT_LT(c, after + 10000000UL);
    std::vector<std::thread> threads;
    std::atomic<int> backwards{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            unsigned long prev = Base::Measure::get_clock();
            for (int i = 0; i < 50000; ++i) {
                unsigned long now = Base::Measure::get_clock();
                if (now < prev) backwards.fetch_add(1, std::memory_order_relaxed);
                prev = now;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, backwards.load());
}

TEST(Measure, LocalAndCoarseClocksUseTheirSources) {
    unsigned long before = ticks_of(CLOCK_REALTIME);
    unsigned long local = Base::Measure::get_local_clock();
    EXPECT_LE(before, local);
    EXPECT_LE(local, ticks_of(CLOCK_REALTIME));
    unsigned long ref = ticks_of(CLOCK_MONOTONIC_COARSE);
    unsigned long coarse = Base::Measure::get_coarse_clock();
    EXPECT_GE(coarse, ref);
    EXPECT_LT(coarse - ref, 10000000UL);
}

TEST(Measure, DelayAndSleepWaitAtLeastTheirTime) {
    unsigned long start = Base::Measure::get_clock();
    Base::Measure::delay(20000);  // 2 ms in ticks
    EXPECT_GE(Base::Measure::get_clock() - start, 20000UL);
    Base::Measure::delay(0);
    start = Base::Measure::get_clock();
    Base::Measure::sleep(3);
    EXPECT_GE(Base::Measure::get_clock() - start, 30000UL);
}

TEST(Measure, GetTimeOfAKnownInstantFollowsTheLocalZone) {
    // 2026-12-04 21:45:30 UTC is 1796420730 s after the epoch; the same
    // local wall time in a zone 8 h east is 8 h earlier in UTC.
    for (long east : {0L, 8L}) {
        Zone zone(east ? "CST-8" : "UTC0");
        unsigned long clock = (1796420730UL - east * 3600) * 10000000UL + 1234567;
        EXPECT_EQ(2612042145301234567UL, Base::Measure::get_time(clock)) << east;
        EXPECT_EQ(clock, Base::Measure::to_clock(2612042145301234567UL)) << east;
    }
    Zone zone("CST-8");  // no daylight saving, so no ambiguous hour
    unsigned long now = Base::Measure::get_local_clock();
    for (unsigned long c = now; c < now + 5 * 86400UL * 10000000UL; c += 37777777777UL)
        EXPECT_EQ(c, Base::Measure::to_clock(Base::Measure::get_time(c)));
}

}  // namespace

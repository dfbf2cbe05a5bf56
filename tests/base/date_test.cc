#include "base/date.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "base/date_time.h"
#include "base/measure.h"

namespace {

int ymd_of(const tm& t) {
    return (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
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

// timegm/gmtime_r are an independent calendar: walk 500 years from
// 1980-01-01 day by day and check day numbers and month lengths against it.
TEST(Date, AgreesWithTheSystemCalendar) {
    tm t = {};
    t.tm_year = 80;
    t.tm_mday = 1;
    const time_t base = timegm(&t);
    auto civil = [&](int n) {
        time_t s = base + static_cast<time_t>(n - 1) * 86400;
        tm u;
        gmtime_r(&s, &u);
        return u;
    };
    for (int n = 1; n < 500 * 366; ++n) {
        tm u = civil(n);
        int ymd = ymd_of(u);
        ASSERT_EQ(ymd, Base::Date::from_days(n)) << n;
        ASSERT_EQ(n, Base::Date::get_days(ymd)) << ymd;
        if (civil(n + 1).tm_mday == 1) {
            ASSERT_EQ(u.tm_mday, Base::Date::get_days(u.tm_year + 1900, u.tm_mon + 1)) << ymd;
        }
    }
    EXPECT_TRUE(Base::Date::is_leap(2400));
    EXPECT_FALSE(Base::Date::is_leap(2100));
}

TEST(Date, OutOfRangeInputs) {
    EXPECT_EQ(0, Base::Date::get_days(2023, 13));
    EXPECT_EQ(0, Base::Date::get_days(2023, 0));
    EXPECT_EQ(0, Base::Date::get_days(20241301));
    // Years before 1980 count the day of the year only.
    EXPECT_EQ(32, Base::Date::get_days(19700201));
    EXPECT_EQ(0, Base::Date::from_days(0));
    EXPECT_EQ(0, Base::Date::from_days(-5));
}

TEST(DateTime, NowFollowsTheWallClock) {
    long s = 0;
    int ms = -1;
    time_t before = time(nullptr);
    Base::DateTime::get_now(s, ms);
    EXPECT_GE(s, before);
    EXPECT_LE(s, time(nullptr));
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, 1000);
}

unsigned long ticks_of(clockid_t clock) {
    timespec ts;
    clock_gettime(clock, &ts);
    return ts.tv_sec * 10000000UL + ts.tv_nsec / 100;
}

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

TEST(Measure, LocalClockIsTheWallClock) {
    unsigned long before = ticks_of(CLOCK_REALTIME);
    unsigned long local = Base::Measure::get_local_clock();
    EXPECT_LE(before, local);
    EXPECT_LE(local, ticks_of(CLOCK_REALTIME));
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
    }
}

}  // namespace

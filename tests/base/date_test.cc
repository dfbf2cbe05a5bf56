#include "base/date.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "base/date_time.h"
#include "base/measure.h"
#include "base/time.h"

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
// 1980-01-01 day by day and check day numbers, month lengths, week days,
// date arithmetic and seconds of a date and time against it.
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
        if (n % 97 != 0) continue;
        Base::Date d(ymd);
        ASSERT_EQ(u.tm_wday == 0 ? 7 : u.tm_wday, d.get_week()) << ymd;
        ASSERT_EQ(base + (n - 1) * 86400L + 47229,
                  Base::DateTime::value_to_seconds(ymd, 130709, 0));
        ASSERT_EQ(ymd_of(civil(n + 400)), (d + 400).get_date()) << ymd;
        if (n > 400) {
            ASSERT_EQ(ymd_of(civil(n - 400)), (d - 400).get_date()) << ymd;
        }
        ASSERT_EQ(400, Base::Date(ymd_of(civil(n + 400))) - d) << ymd;
        // The step operators move the date and its fields together.
        Base::Date e = d;
        ASSERT_EQ(ymd, (e++).get_date());
        ASSERT_EQ(std::make_tuple(e.get_date(), e.get_year(), e.get_month(), e.get_day()),
                  std::make_tuple(ymd_of(civil(n + 1)), civil(n + 1).tm_year + 1900,
                                  civil(n + 1).tm_mon + 1, civil(n + 1).tm_mday));
        e += 399;
        ASSERT_EQ(ymd_of(civil(n + 400)), e.get_date());
        e -= 400;
        e--;
        ASSERT_TRUE(e == Base::Date(ymd_of(civil(n - 1)))) << ymd;
    }
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

// Both read the clock themselves; midnight may pass between two reads.
TEST(Date, NowMatchesLocalTimeAndTheClock) {
    Base::Date d;
    int today = d.get_now();
    time_t now = time(nullptr);
    tm t;
    localtime_r(&now, &t);
    EXPECT_TRUE(today == ymd_of(t) || Base::Date(today) + 1 == Base::Date(ymd_of(t)));
    EXPECT_EQ(today, d.get_date());
    Base::Time clock;
    int hms = clock.get_now();
    EXPECT_EQ(hms, clock.get_time());
    long s = 0;
    int ms = -1;
    time_t before = time(nullptr);
    Base::DateTime::get_now(s, ms);
    EXPECT_GE(s, before);
    EXPECT_LE(s, time(nullptr));
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, 1000);
}

TEST(Time, ArithmeticWrapsAroundMidnight) {
    struct Case {
        int seconds, hhmmss;
    } cases[] = {
        {-1, 235959}, {3600 + 86400 * 3, 10000}, {-1 - 86400 * 5, 235959}, {45930, 124530}};
    for (const Case& c : cases)
        EXPECT_EQ(c.hhmmss, Base::Time::from_seconds(c.seconds)) << c.seconds;
    EXPECT_EQ(235959, (Base::Time(0) - 1).get_time());
    EXPECT_EQ(0, (Base::Time(235959) + 1).get_time());
    EXPECT_EQ(-3600, Base::Time(90000) - Base::Time(100000));
    EXPECT_EQ(86399, Base::Time(235959) - Base::Time(0));
    Base::Time t(235959);
    std::vector<int> seen{(t++).get_time(), t.get_time()};
    t--;
    seen.push_back(t.get_time());
    t += 3661;
    seen.insert(seen.end(), {t.get_time(), t.get_hour(), t.get_minute(), t.get_second()});
    t -= 61;
    seen.push_back(t.get_time());
    EXPECT_EQ(seen, (std::vector<int>{235959, 0, 235959, 10100, 1, 1, 0, 5959}));
    EXPECT_TRUE(t == Base::Time(5959));
    char buffer[32];
    Base::Time(93005).to_string(buffer, "%02d:%02d:%02d");
    EXPECT_STREQ("09:30:05", buffer);
    EXPECT_EQ(0, Base::Time().get_time());
}

TEST(DateTime, AKnownInstantInEveryForm) {
    // 2026-12-04 21:45:30 UTC is 1796420730 s after the epoch.
    EXPECT_EQ(0, Base::DateTime::value_to_seconds(19700101, 0, 0));
    EXPECT_EQ(1796420730 - 8 * 3600, Base::DateTime::value_to_seconds(20261204, 214530, -8));
    EXPECT_EQ(-1, Base::DateTime::value_to_seconds(20261304, 0, 0));
    EXPECT_EQ(-1, Base::DateTime::value_to_seconds(20260004, 0, 0));
    EXPECT_EQ(1796420730, Base::DateTime::string_to_seconds("20261204", "21:45:30", 0));
    for (const char* bad : {"21:45", "", "2a:45:30", "21-45-30"})
        EXPECT_EQ(-1, Base::DateTime::string_to_seconds("20261204", bad, 0)) << bad;
    EXPECT_EQ(-1, Base::DateTime::string_to_seconds(nullptr, "21:45:30", 0));
    Zone zone("CST-8");
    char date[9], time[9];
    ASSERT_TRUE(Base::DateTime::seconds_to_string(1796420730 - 8 * 3600, date, time));
    EXPECT_EQ(std::string(date) + " " + time, "20261204 21:45:30");
    int ymd = 0, hms = 0;
    ASSERT_TRUE(Base::DateTime::seconds_to_value(1796420730 - 8 * 3600, ymd, hms));
    EXPECT_EQ(std::make_pair(ymd, hms), std::make_pair(20261204, 214530));
    ASSERT_TRUE(Base::DateTime::seconds_to_value(0, ymd, hms));
    EXPECT_EQ(std::make_pair(ymd, hms), std::make_pair(19700101, 80000));
}

unsigned long ticks_of(clockid_t clock) {
    timespec ts;
    clock_gettime(clock, &ts);
    return ts.tv_sec * 10000000UL + ts.tv_nsec / 100;
}

TEST(Measure, ClocksFollowTheirSourcesAndNeverGoBackOnAnyThread) {
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
    // The local and coarse clocks read their own sources.
    before = ticks_of(CLOCK_REALTIME);
    unsigned long local = Base::Measure::get_local_clock();
    EXPECT_LE(before, local);
    EXPECT_LE(local, ticks_of(CLOCK_REALTIME));
    unsigned long ref = ticks_of(CLOCK_MONOTONIC_COARSE);
    unsigned long coarse = Base::Measure::get_coarse_clock();
    EXPECT_GE(coarse, ref);
    EXPECT_LT(coarse - ref, 10000000UL);
}

TEST(Measure, DelayWaitsAtLeastItsTime) {
    unsigned long start = Base::Measure::get_clock();
    Base::Measure::delay(20000);  // 2 ms in ticks
    EXPECT_GE(Base::Measure::get_clock() - start, 20000UL);
    Base::Measure::delay(0);
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

#include "base/date.h"

#include <gtest/gtest.h>
#include <time.h>

#include "base/date_time.h"
#include "base/time.h"

namespace {

TEST(Date, DaysOfMonthFollowTheGregorianRules) {
    EXPECT_EQ(29, Base::Date::get_days(2024, 2));
    EXPECT_EQ(28, Base::Date::get_days(1900, 2));
    EXPECT_EQ(29, Base::Date::get_days(2000, 2));
    EXPECT_EQ(28, Base::Date::get_days(2023, 2));
    EXPECT_EQ(0, Base::Date::get_days(2023, 13));
    EXPECT_EQ(0, Base::Date::get_days(2023, 0));
    EXPECT_EQ(31, Base::Date::get_days(2023, 12));
    EXPECT_EQ(30, Base::Date::get_days(2023, 11));
    EXPECT_TRUE(Base::Date::is_leap(2400));
    EXPECT_FALSE(Base::Date::is_leap(2100));
}

TEST(Date, DayNumbersCountFrom1980) {
    EXPECT_EQ(1, Base::Date::get_days(19800101));
    EXPECT_EQ(366, Base::Date::get_days(19801231));  // 1980 is a leap year
    EXPECT_EQ(367, Base::Date::get_days(19810101));
    // Years before 1980 count the day of the year only.
    EXPECT_EQ(32, Base::Date::get_days(19700201));
    EXPECT_EQ(0, Base::Date::get_days(20241301));
    EXPECT_EQ(19800101, Base::Date::from_days(1));
    EXPECT_EQ(0, Base::Date::from_days(0));
    EXPECT_EQ(0, Base::Date::from_days(-5));
}

TEST(Date, DayNumbersAgreeWithTheSystemCalendar) {
    // timegm is an independent day count; walk 500 years day by day.
    tm t = {};
    t.tm_year = 80;
    t.tm_mday = 1;
    time_t base = timegm(&t);
    for (int n = 1; n < 500 * 366; n += 1) {
        time_t s = base + static_cast<time_t>(n - 1) * 86400;
        tm u;
        gmtime_r(&s, &u);
        int ymd = (u.tm_year + 1900) * 10000 + (u.tm_mon + 1) * 100 + u.tm_mday;
        ASSERT_EQ(ymd, Base::Date::from_days(n)) << n;
        ASSERT_EQ(n, Base::Date::get_days(ymd)) << ymd;
    }
}

TEST(Date, FieldsAndComparison) {
    Base::Date d(20240229);
    EXPECT_EQ(2024, d.get_year());
    EXPECT_EQ(2, d.get_month());
    EXPECT_EQ(29, d.get_day());
    EXPECT_EQ(20240229, d.get_date());
    Base::Date e;
    EXPECT_EQ(0, e.get_date());
    EXPECT_EQ(0, e.get_year());
    e = d;
    EXPECT_TRUE(e == d);
    e.set_date(20240301);
    EXPECT_FALSE(e == d);
    EXPECT_EQ(1, e - d);
    EXPECT_EQ(-1, d - e);
}

TEST(Date, ArithmeticCrossesYearsAndMonths) {
    EXPECT_EQ(20250101, (Base::Date(20241231) + 1).get_date());
    EXPECT_EQ(20250228, (Base::Date(20250301) - 1).get_date());
    EXPECT_EQ(20240229, (Base::Date(20240301) - 1).get_date());
    EXPECT_EQ(20000229, (Base::Date(20000228) + 1).get_date());
    Base::Date d(20241231);
    Base::Date old = d++;
    EXPECT_EQ(20241231, old.get_date());
    EXPECT_EQ(20250101, d.get_date());
    EXPECT_EQ(1, d.get_month());
    d--;
    EXPECT_EQ(20241231, d.get_date());
    d += 60;
    EXPECT_EQ(20250301, d.get_date());
    d -= 365;
    EXPECT_EQ(20240301, d.get_date());
    EXPECT_EQ(366, Base::Date(20250101) - Base::Date(20240101));
}

TEST(Date, WeekDays) {
    EXPECT_EQ(2, Base::Date(19800101).get_week());
    EXPECT_EQ(7, Base::Date(20241229).get_week());
    EXPECT_EQ(1, Base::Date(20241230).get_week());
    EXPECT_EQ(5, Base::Date(20261204).get_week());
}

TEST(Date, TodayMatchesLocalTime) {
    Base::Date d;
    int today = d.get_now();
    time_t now = time(nullptr);
    tm t;
    localtime_r(&now, &t);
    int ymd = (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
    // Midnight may pass between the two reads.
    EXPECT_TRUE(today == ymd || Base::Date(today) + 1 == Base::Date(ymd));
    EXPECT_EQ(today, d.get_date());
}

TEST(Time, WrapsAroundMidnight) {
    EXPECT_EQ(235959, (Base::Time(0) - 1).get_time());
    EXPECT_EQ(0, (Base::Time(235959) + 1).get_time());
    EXPECT_EQ(235959, Base::Time::from_seconds(-1));
    EXPECT_EQ(10000, Base::Time::from_seconds(3600 + 86400 * 3));
    EXPECT_EQ(235959, Base::Time::from_seconds(-1 - 86400 * 5));
    Base::Time t(235959);
    Base::Time old = t++;
    EXPECT_EQ(235959, old.get_time());
    EXPECT_EQ(0, t.get_time());
    t--;
    EXPECT_EQ(235959, t.get_time());
    t += 3661;
    EXPECT_EQ(10100, t.get_time());
    EXPECT_EQ(1, t.get_hour());
    EXPECT_EQ(1, t.get_minute());
    EXPECT_EQ(0, t.get_second());
    t -= 61;
    EXPECT_EQ(5959, t.get_time());
}

TEST(Time, SecondsAndDifferences) {
    EXPECT_EQ(45930, Base::Time::to_seconds(124530));
    EXPECT_EQ(124530, Base::Time::from_seconds(45930));
    EXPECT_EQ(-3600, Base::Time(90000) - Base::Time(100000));
    EXPECT_EQ(86399, Base::Time(235959) - Base::Time(0));
    int h, m, s;
    Base::Time::parse(93005, h, m, s);
    EXPECT_EQ(9, h);
    EXPECT_EQ(30, m);
    EXPECT_EQ(5, s);
    EXPECT_TRUE(Base::Time(93005) == Base::Time(93005));
    EXPECT_EQ(0, Base::Time().get_time());
}

TEST(Time, ToStringUsesTheFormat) {
    char buffer[32];
    Base::Time(93005).to_string(buffer, "%02d:%02d:%02d");
    EXPECT_STREQ("09:30:05", buffer);
    Base::Time(93005).to_string(buffer, "%d-%d-%d");
    EXPECT_STREQ("9-30-5", buffer);
}

TEST(Time, NowIsAValidTimeOfDay) {
    Base::Time t;
    int now = t.get_now();
    EXPECT_EQ(now, t.get_time());
    EXPECT_LT(t.get_hour(), 24);
    EXPECT_LT(t.get_minute(), 60);
    EXPECT_LT(t.get_second(), 61);
}

TEST(DateTime, ValueToSecondsMatchesKnownInstants) {
    EXPECT_EQ(0, Base::DateTime::value_to_seconds(19700101, 0, 0));
    EXPECT_EQ(951868800, Base::DateTime::value_to_seconds(20000301, 0, 0));
    EXPECT_EQ(951782400, Base::DateTime::value_to_seconds(20000229, 0, 0));
    EXPECT_EQ(1796420730, Base::DateTime::value_to_seconds(20261204, 214530, 0));
    EXPECT_EQ(1796420730 - 8 * 3600, Base::DateTime::value_to_seconds(20261204, 214530, -8));
    EXPECT_EQ(-1, Base::DateTime::value_to_seconds(20261304, 0, 0));
    EXPECT_EQ(-1, Base::DateTime::value_to_seconds(20260004, 0, 0));
}

TEST(DateTime, ValueToSecondsAgreesWithTimegm) {
    for (int n = 1; n < 120 * 366; n += 13) {
        int ymd = Base::Date::from_days(n);
        tm t = {};
        t.tm_year = ymd / 10000 - 1900;
        t.tm_mon = ymd / 100 % 100 - 1;
        t.tm_mday = ymd % 100;
        t.tm_hour = 13;
        t.tm_min = 7;
        t.tm_sec = 9;
        ASSERT_EQ(static_cast<long>(timegm(&t)), Base::DateTime::value_to_seconds(ymd, 130709, 0))
            << ymd;
    }
}

TEST(DateTime, StringToSeconds) {
    EXPECT_EQ(1796420730, Base::DateTime::string_to_seconds("20261204", "21:45:30", 0));
    EXPECT_EQ(-1, Base::DateTime::string_to_seconds("20261204", "21:45", 0));
    EXPECT_EQ(-1, Base::DateTime::string_to_seconds("20261204", "", 0));
    EXPECT_EQ(-1, Base::DateTime::string_to_seconds("20261204", "2a:45:30", 0));
    EXPECT_EQ(-1, Base::DateTime::string_to_seconds("20261204", "21-45-30", 0));
    EXPECT_EQ(-1, Base::DateTime::string_to_seconds(nullptr, "21:45:30", 0));
}

TEST(DateTime, SecondsToLocalText) {
    setenv("TZ", "CST-8", 1);
    tzset();
    char date[9], time[9];
    ASSERT_TRUE(Base::DateTime::seconds_to_string(1796420730 - 8 * 3600, date, time));
    EXPECT_STREQ("20261204", date);
    EXPECT_STREQ("21:45:30", time);
    int ymd = 0, hms = 0;
    ASSERT_TRUE(Base::DateTime::seconds_to_value(1796420730 - 8 * 3600, ymd, hms));
    EXPECT_EQ(20261204, ymd);
    EXPECT_EQ(214530, hms);
    ASSERT_TRUE(Base::DateTime::seconds_to_value(0, ymd, hms));
    EXPECT_EQ(19700101, ymd);
    EXPECT_EQ(80000, hms);
    unsetenv("TZ");
    tzset();
}

TEST(DateTime, NowMatchesTheWallClock) {
    long s = 0;
    int ms = -1;
    time_t before = time(nullptr);
    Base::DateTime::get_now(s, ms);
    time_t after = time(nullptr);
    EXPECT_GE(s, before);
    EXPECT_LE(s, after);
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, 1000);
}

}  // namespace

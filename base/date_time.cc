#include "base/date_time.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/time.h>
#include <time.h>

#include "base/date.h"

namespace Base {

namespace {

// Leap years in (1968, year], for years from 1968 on.
long leap_years_since_1968(long year) {
    return (year - 1968) / 4 - (year - 1900) / 100 + (year - 1600) / 400;
}

// Two decimal digits at text[0..1]; -1 unless both are digits.
int two_digits(const char* text) {
    if (text[0] < '0' || text[0] > '9') return -1;
    if (text[1] < '0' || text[1] > '9') return -1;
    return (text[0] - '0') * 10 + (text[1] - '0');
}

bool local_time(long seconds, tm& t) {
    time_t s = static_cast<time_t>(seconds);
    return localtime_r(&s, &t) != nullptr;
}

}  // namespace

long DateTime::value_to_seconds(int yyyymmdd, int hhmmss, int hours) {
    long year = yyyymmdd / 10000;
    int month = yyyymmdd / 100 % 100;
    int day = yyyymmdd % 100;
    if (month < 1 || month > 12) return -1;
    long days = (year - 1970) * 365 + leap_years_since_1968(year);
    if (month <= 2 && Date::is_leap(static_cast<int>(year))) --days;
    days += Date::MONTH_DAYS[month - 1] + day - 1;
    long hour = hhmmss / 10000;
    long minute = hhmmss / 100 % 100;
    long second = hhmmss % 100;
    return days * 86400 + (hour + hours) * 3600 + minute * 60 + second;
}

long DateTime::string_to_seconds(const char* date, const char* time, int hours) {
    if (!date || !time) return -1;
    // Checked left to right, so a short text stops at its NUL.
    int hour = two_digits(time);
    if (hour < 0 || time[2] != ':') return -1;
    int minute = two_digits(time + 3);
    if (minute < 0 || time[5] != ':') return -1;
    int second = two_digits(time + 6);
    if (second < 0) return -1;
    long value = strtol(date, nullptr, 10);
    return value_to_seconds(static_cast<int>(value), hour * 10000 + minute * 100 + second, hours);
}

bool DateTime::seconds_to_string(long seconds, char* date, char* time) {
    tm t;
    if (!local_time(seconds, t)) return false;
    // The unsigned remainders bound every field to its width.
    snprintf(date, 9, "%04u%02u%02u", static_cast<unsigned>(t.tm_year + 1900) % 10000u,
             static_cast<unsigned>(t.tm_mon + 1) % 100u, static_cast<unsigned>(t.tm_mday) % 100u);
    snprintf(time, 9, "%02u:%02u:%02u", static_cast<unsigned>(t.tm_hour) % 100u,
             static_cast<unsigned>(t.tm_min) % 100u, static_cast<unsigned>(t.tm_sec) % 100u);
    return true;
}

bool DateTime::seconds_to_value(long seconds, int& yyyymmdd, int& hhmmss) {
    tm t;
    if (!local_time(seconds, t)) return false;
    yyyymmdd = (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
    hhmmss = t.tm_hour * 10000 + t.tm_min * 100 + t.tm_sec;
    return true;
}

void DateTime::get_now(long& seconds, int& milliseconds) {
    timeval tv;
    gettimeofday(&tv, nullptr);
    seconds = tv.tv_sec;
    milliseconds = static_cast<int>(tv.tv_usec / 1000);
}

}  // namespace Base

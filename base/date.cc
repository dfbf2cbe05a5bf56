#include "base/date.h"

namespace Base {

namespace {

// Days before each month in a common year.
const int MONTH_DAYS[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

constexpr int FIRST_YEAR = 1980;
constexpr int DAYS_PER_400_YEARS = 146097;
constexpr int MAX_YEAR = 214747;  // the largest year whose YYYYMMDD fits an int

int year_length(int year) {
    return Date::is_leap(year) ? 366 : 365;
}

// Day of the year (1-based) of a valid month; 0 for an invalid one.
int day_of_year(int year, int month, int day) {
    if (month < 1 || month > 12) return 0;
    int before = MONTH_DAYS[month - 1];
    if (month > 2 && Date::is_leap(year)) ++before;
    return before + day;
}

}  // namespace

bool Date::is_leap(int year) {
    return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

int Date::get_days(int year, int month) {
    switch (month) {
        case 1:
        case 3:
        case 5:
        case 7:
        case 8:
        case 10:
        case 12:
            return 31;
        case 4:
        case 6:
        case 9:
        case 11:
            return 30;
        case 2:
            return is_leap(year) ? 29 : 28;
        default:
            return 0;
    }
}

int Date::get_days(int yyyymmdd) {
    int year = yyyymmdd / 10000, month = yyyymmdd / 100 % 100, day = yyyymmdd % 100;
    if (month < 1 || month > 12) return 0;
    int days = day_of_year(year, month, day);
    int y = FIRST_YEAR;
    // Whole 400-year cycles have a fixed length; the rest year by year.
    int cycles = (year - y) / 400;
    if (cycles > 0) {
        days += cycles * DAYS_PER_400_YEARS;
        y += cycles * 400;
    }
    for (; y < year; ++y) days += year_length(y);
    return days;
}

int Date::from_days(int days) {
    if (days < 1) return 0;
    int year = FIRST_YEAR;
    int cycles = (days - 1) / DAYS_PER_400_YEARS;
    days -= cycles * DAYS_PER_400_YEARS;
    year += cycles * 400;
    while (days > year_length(year)) days -= year_length(year++);
    if (year > MAX_YEAR) return 0;
    int month = 1;
    while (days > get_days(year, month)) days -= get_days(year, month++);
    return year * 10000 + month * 100 + days;
}

}  // namespace Base

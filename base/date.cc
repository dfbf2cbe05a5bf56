#include "base/date.h"

#include <time.h>

namespace Base {

const int Date::MONTH_DAYS[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

namespace {

constexpr int FIRST_YEAR = 1980;
constexpr int DAYS_PER_400_YEARS = 146097;
constexpr int MAX_YEAR = 214747;  // the largest year whose YYYYMMDD fits an int

int year_length(int year) {
    return Date::is_leap(year) ? 366 : 365;
}

// Day of the year (1-based) of a valid month; 0 for an invalid one.
int day_of_year(int year, int month, int day) {
    if (month < 1 || month > 12) return 0;
    int before = Date::MONTH_DAYS[month - 1];
    if (month > 2 && Date::is_leap(year)) ++before;
    return before + day;
}

}  // namespace

void Date::set_date(int yyyymmdd) {
    date_ = yyyymmdd;
    parse(yyyymmdd, year_, month_, day_);
}

int Date::get_now() {
    time_t now = time(nullptr);
    tm t;
    localtime_r(&now, &t);
    set_date((t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday);
    return date_;
}

int Date::get_week() const {
    int w = (get_days(date_) + 1) % 7;
    return w == 0 ? 7 : w;
}

Date Date::operator++(int) {
    Date old = *this;
    *this += 1;
    return old;
}

Date Date::operator--(int) {
    Date old = *this;
    *this -= 1;
    return old;
}

Date Date::operator+(int days) const {
    return Date(from_days(get_days(date_) + days));
}

Date Date::operator-(int days) const {
    return Date(from_days(get_days(date_) - days));
}

Date& Date::operator+=(int days) {
    set_date(from_days(get_days(date_) + days));
    return *this;
}

Date& Date::operator-=(int days) {
    set_date(from_days(get_days(date_) - days));
    return *this;
}

int Date::operator-(const Date& other) const {
    return get_days(date_) - get_days(other.date_);
}

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
    int year, month, day;
    parse(yyyymmdd, year, month, day);
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

void Date::parse(int yyyymmdd, int& year, int& month, int& day) {
    year = yyyymmdd / 10000;
    month = yyyymmdd / 100 % 100;
    day = yyyymmdd % 100;
}

}  // namespace Base

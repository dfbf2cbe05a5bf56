#ifndef XELMD_BASE_DATE_H
#define XELMD_BASE_DATE_H

namespace Base {

// A calendar date kept both packed (YYYYMMDD) and split. A plain value; one
// thread at a time. Day arithmetic goes through day numbers counted from
// 1980-01-01 = day 1, so it is only exact for dates from 1980 on.
class Date {
  public:
    // Days before each month in a common year; [12] is the year's length.
    static const int MONTH_DAYS[13];

    Date() = default;
    explicit Date(int yyyymmdd) { set_date(yyyymmdd); }

    void set_date(int yyyymmdd);
    int get_date() const { return date_; }
    int get_year() const { return year_; }
    int get_month() const { return month_; }
    int get_day() const { return day_; }

    bool operator==(const Date& other) const { return date_ == other.date_; }
    bool operator!=(const Date& other) const { return date_ != other.date_; }

    // Sets the date to today in local time and returns it packed.
    int get_now();
    // Monday 1 .. Sunday 7.
    int get_week() const;

    // Step by one day in place; return the date before the step.
    Date operator++(int);
    Date operator--(int);
    Date operator+(int days) const;
    Date operator-(int days) const;
    Date& operator+=(int days);
    Date& operator-=(int days);
    int operator-(const Date& other) const;

    static bool is_leap(int year);
    // 28 to 31, or 0 for a month number outside 1..12.
    static int get_days(int year, int month);
    // Day number from 1980-01-01 = 1; for years up to 1980 the day of the year;
    // 0 for a month outside 1..12.
    static int get_days(int yyyymmdd);
    // Inverse of get_days for days >= 1; 0 otherwise.
    static int from_days(int days);
    static void parse(int yyyymmdd, int& year, int& month, int& day);

  private:
    int date_ = 0;
    int year_ = 0;
    int month_ = 0;
    int day_ = 0;
};

}  // namespace Base

#endif  // XELMD_BASE_DATE_H

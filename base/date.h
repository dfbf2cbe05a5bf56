#ifndef XELMD_BASE_DATE_H
#define XELMD_BASE_DATE_H

namespace Base {

// Calendar dates packed as YYYYMMDD and day numbers counted from
// 1980-01-01 = day 1, so day arithmetic is only exact for dates from 1980 on.
// Static functions; any thread.
class Date {
  public:
    static bool is_leap(int year);
    // 28 to 31, or 0 for a month number outside 1..12.
    static int get_days(int year, int month);
    // Day number from 1980-01-01 = 1; for years up to 1980 the day of the year;
    // 0 for a month outside 1..12.
    static int get_days(int yyyymmdd);
    // Inverse of get_days for days >= 1; 0 otherwise.
    static int from_days(int days);
};

}  // namespace Base

#endif  // XELMD_BASE_DATE_H

#ifndef XELMD_BASE_DATE_TIME_H
#define XELMD_BASE_DATE_TIME_H

namespace Base {

// Conversions between calendar values, text and seconds since 1970-01-01.
// Static functions; any thread.
class DateTime {
  public:
    // Seconds of the calendar date and time, computed with the Gregorian
    // rules and no time zone other than hours; -1 for a month outside 1..12.
    static long value_to_seconds(int yyyymmdd, int hhmmss, int hours);
    // date is decimal YYYYMMDD text, time is "HH:MM:SS"; -1 when malformed.
    static long string_to_seconds(const char* date, const char* time, int hours);
    // Local time of seconds as "YYYYMMDD" and "HH:MM:SS" (9 bytes each).
    static bool seconds_to_string(long seconds, char* date, char* time);
    static bool seconds_to_value(long seconds, int& yyyymmdd, int& hhmmss);
    static void get_now(long& seconds, int& milliseconds);
};

}  // namespace Base

#endif  // XELMD_BASE_DATE_TIME_H

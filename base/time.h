#ifndef XELMD_BASE_TIME_H
#define XELMD_BASE_TIME_H

namespace Base {

// A time of day kept both packed (HHMMSS) and split. A plain value; one
// thread at a time. Arithmetic wraps around midnight.
class Time {
  public:
    static constexpr int SECONDS_PER_DAY = 86400;

    Time() = default;
    explicit Time(int hhmmss) { set_time(hhmmss); }

    void set_time(int hhmmss);
    int get_time() const { return time_; }
    int get_hour() const { return hour_; }
    int get_minute() const { return minute_; }
    int get_second() const { return second_; }

    bool operator==(const Time& other) const { return time_ == other.time_; }
    bool operator!=(const Time& other) const { return time_ != other.time_; }

    // Sets the time to the local time now and returns it packed.
    int get_now();

    // Step by one second in place; return the time before the step.
    Time operator++(int);
    Time operator--(int);
    Time operator+(int seconds) const;
    Time operator-(int seconds) const;
    Time& operator+=(int seconds);
    Time& operator-=(int seconds);
    // Difference in seconds within the day; negative when other is later.
    int operator-(const Time& other) const;

    // format takes hour, minute and second as three ints, e.g. "%02d:%02d:%02d".
    void to_string(char* buffer, const char* format) const;

    static int to_seconds(int hhmmss);
    // Seconds wrapped into one day, packed as HHMMSS.
    static int from_seconds(int seconds);
    static void parse(int hhmmss, int& hour, int& minute, int& second);

  private:
    int time_ = 0;
    int hour_ = 0;
    int minute_ = 0;
    int second_ = 0;
};

}  // namespace Base

#endif  // XELMD_BASE_TIME_H

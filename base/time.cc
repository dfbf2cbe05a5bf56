#include "base/time.h"

#include <stdio.h>
#include <time.h>

namespace Base {

void Time::set_time(int hhmmss) {
    time_ = hhmmss;
    parse(hhmmss, hour_, minute_, second_);
}

int Time::get_now() {
    time_t now = time(nullptr);
    tm t;
    localtime_r(&now, &t);
    set_time(t.tm_hour * 10000 + t.tm_min * 100 + t.tm_sec);
    return time_;
}

Time Time::operator++(int) {
    Time old = *this;
    *this += 1;
    return old;
}

Time Time::operator--(int) {
    Time old = *this;
    *this -= 1;
    return old;
}

Time Time::operator+(int seconds) const {
    return Time(from_seconds(to_seconds(time_) + seconds));
}

Time Time::operator-(int seconds) const {
    return Time(from_seconds(to_seconds(time_) - seconds));
}

Time& Time::operator+=(int seconds) {
    set_time(from_seconds(to_seconds(time_) + seconds));
    return *this;
}

Time& Time::operator-=(int seconds) {
    set_time(from_seconds(to_seconds(time_) - seconds));
    return *this;
}

int Time::operator-(const Time& other) const {
    return to_seconds(time_) - to_seconds(other.time_);
}

void Time::to_string(char* buffer, const char* format) const {
    sprintf(buffer, format, hour_, minute_, second_);
}

int Time::to_seconds(int hhmmss) {
    int hour, minute, second;
    parse(hhmmss, hour, minute, second);
    return hour * 3600 + minute * 60 + second;
}

int Time::from_seconds(int seconds) {
    // Reduce first so any count of days, either sign, lands in one day.
    int s = (seconds % SECONDS_PER_DAY + SECONDS_PER_DAY) % SECONDS_PER_DAY;
    return s / 3600 * 10000 + s / 60 % 60 * 100 + s % 60;
}

void Time::parse(int hhmmss, int& hour, int& minute, int& second) {
    hour = hhmmss / 10000;
    minute = hhmmss / 100 % 100;
    second = hhmmss % 100;
}

}  // namespace Base

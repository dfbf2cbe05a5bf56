#ifndef XELMD_BASE_DATE_TIME_H
#define XELMD_BASE_DATE_TIME_H

namespace Base {

// The wall clock as seconds since 1970-01-01 and milliseconds. Any thread.
class DateTime {
  public:
    static void get_now(long& seconds, int& milliseconds);
};

}  // namespace Base

#endif  // XELMD_BASE_DATE_TIME_H

#include "base/date_time.h"

#include <sys/time.h>

namespace Base {

void DateTime::get_now(long& seconds, int& milliseconds) {
    timeval tv;
    gettimeofday(&tv, nullptr);
    seconds = tv.tv_sec;
    milliseconds = static_cast<int>(tv.tv_usec / 1000);
}

}  // namespace Base

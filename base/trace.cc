#include "base/trace.h"

namespace Base {

Trace::Sink Trace::sink_ = nullptr;

const char* Trace::name(int event) {
    static const char* const names[EVENT_COUNT] = {
        "?",     "pass",      "sleep",     "wake",        "ready",           "events",
        "timer", "timer-end", "recycle",   "recycle-end", "connection-file", "connection-file-end",
        "sent",  "block",     "block-end", "update"};
    return event > 0 && event < EVENT_COUNT ? names[event] : names[0];
}

}  // namespace Base

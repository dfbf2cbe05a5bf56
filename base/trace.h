#ifndef XELMD_BASE_TRACE_H
#define XELMD_BASE_TRACE_H

namespace Base {

// A hook through which a benchmark sees what the network thread does
// between updates. No sink is installed in the product: every trace point
// then costs one load of a pointer and a branch not taken. A sink is set
// once, before the threads it should see start, by code linked with the
// internal classes (the shared library does not export it).
class Trace {
  public:
    enum Event {
        PASS = 1,                  // a reactor pass begins
        SLEEP = 2,                 // epoll_wait about to block; arg: timeout ms
        WAKE = 3,                  // a blocking epoll_wait returned; arg: ready descriptors
        READY = 4,                 // a polling epoll_wait found descriptors; arg: their count
        EVENTS = 5,                // posted events ran
        TIMER = 6,                 // a timer fires; arg: its id
        TIMER_END = 7,             // ... and returned
        RECYCLE = 8,               // the received flows are recycled
        RECYCLE_END = 9,           // ... done
        CONNECTION_FILE = 10,      // the connection file is rewritten
        CONNECTION_FILE_END = 11,  // ... done
        SENT = 12,                 // a descriptor wrote something (heartbeat, request)
        BLOCK = 13,                // a fresh memory block; arg: bytes
        BLOCK_END = 14,            // ... allocated
        UPDATE = 15,               // a market-data callback (recorded by the benchmark)
        EVENT_COUNT = 16
    };
    using Sink = void (*)(int event, unsigned long arg);

    static void set_sink(Sink sink) { sink_ = sink; }
    static void note(Event event, unsigned long arg = 0) {
        if (__builtin_expect(sink_ != nullptr, 0)) sink_(event, arg);
    }
    static const char* name(int event);

  private:
    static Sink sink_;
};

}  // namespace Base

#endif  // XELMD_BASE_TRACE_H

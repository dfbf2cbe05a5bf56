// Interpreter life as the network threads see it: once the interpreter
// starts to exit, no network thread may enter Python again.
#ifndef XELMD_PYTHON_RUNTIME_H
#define XELMD_PYTHON_RUNTIME_H

#include <atomic>

namespace PyXelmd {

class Runtime {
  public:
    // Set by the atexit hook before it closes what is still open.
    static std::atomic<bool>& exiting() {
        static std::atomic<bool> flag{false};
        return flag;
    }
};

}  // namespace PyXelmd

#endif  // XELMD_PYTHON_RUNTIME_H

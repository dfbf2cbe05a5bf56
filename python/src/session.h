// Something holding an API object that must be released and joined before
// the interpreter exits. Open sessions are listed so the exit hook can close
// them; every list operation runs with the GIL held.
#ifndef XELMD_PYTHON_SESSION_H
#define XELMD_PYTHON_SESSION_H

#include <memory>

namespace PyXelmd {

class Session : public std::enable_shared_from_this<Session> {
  public:
    virtual ~Session() = default;
    // Release and Join; idempotent. Called with the GIL.
    virtual void close() = 0;

    void enlist();
    void delist();
    // Closes every listed session (the exit hook, and after a close that
    // left sessions released from a callback and not yet joined).
    static void close_all();
};

}  // namespace PyXelmd

#endif  // XELMD_PYTHON_SESSION_H

#ifndef XELMD_TESTS_PARALLEL_SCRIPTED_FD_REACTOR_H
#define XELMD_TESTS_PARALLEL_SCRIPTED_FD_REACTOR_H

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "parallel/fd_reactor.h"

namespace ReactorTest {

// An FdReactor whose thread runs a script in place of the loop, with the
// notify descriptor registered as the loop would, and injected loop times.
// Reactor thread only, like the loop it replaces.
class ScriptedFdReactor : public Parallel::FdReactor {
  public:
    explicit ScriptedFdReactor(std::function<void(ScriptedFdReactor&)> script)
        : FdReactor(nullptr), script_(std::move(script)) {}
    // One loop pass at the given time; returns what the descriptor step did.
    bool pass(unsigned long now, bool busy) {
        set_loop_time(now);
        event_proc();
        handler_proc();
        return fd_proc(busy);
    }
    void set_now(unsigned long now) { set_loop_time(now); }
    void set_busy(unsigned long until) { set_busy_until(until); }

  protected:
    void thread_proc() override {
        on_event(EVENT_ADD_FD, get_notify_fd());
        script_(*this);
        on_event(EVENT_REMOVE_FD, get_notify_fd());
    }

  private:
    std::function<void(ScriptedFdReactor&)> script_;
};

// Runs the script on a new reactor thread and waits for it.
inline void run_script(std::function<void(ScriptedFdReactor&)> script) {
    ScriptedFdReactor* reactor = new ScriptedFdReactor(std::move(script));
    ASSERT_TRUE(reactor->create(true, nullptr));
    ASSERT_TRUE(reactor->join());
    delete reactor;
}

}  // namespace ReactorTest

#endif  // XELMD_TESTS_PARALLEL_SCRIPTED_FD_REACTOR_H

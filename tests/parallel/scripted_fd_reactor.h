#ifndef XELMD_TESTS_PARALLEL_SCRIPTED_FD_REACTOR_H
#define XELMD_TESTS_PARALLEL_SCRIPTED_FD_REACTOR_H

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "parallel/fd_reactor.h"
#include "parallel/reactor.h"

namespace ReactorTest {

const unsigned long T0 = 1000000000UL;  // an injected loop time, in ticks

// A reactor whose thread runs a script in place of the loop: the script
// drives the reactor's own run_pass with chosen loop times, between the
// loop's own setup and teardown, starting at loop time T0. Reactor thread
// only, like the loop.
template <class R>
class Scripted : public R {
  public:
    explicit Scripted(std::function<void(Scripted&)> script)
        : R(nullptr), script_(std::move(script)) {}
    // Runs a script on a new reactor thread and waits for it.
    static void run(std::function<void(Scripted&)> script) {
        std::unique_ptr<Scripted> reactor(new Scripted(std::move(script)));
        ASSERT_TRUE(reactor->create(true, nullptr));
        ASSERT_TRUE(reactor->join());
    }
    // One pass of the real loop at the given time.
    bool pass(unsigned long now) { return this->run_pass(now); }
    void set_now(unsigned long now) { this->set_loop_time(now); }
    void set_busy(unsigned long until) { this->set_busy_until(until); }

    // Timers with no handler.
    std::vector<int> own_timers;
    bool on_timer(int id) override {
        own_timers.push_back(id);
        return false;
    }

  protected:
    void thread_proc() override {
        this->set_loop_time(T0);
        this->begin_loop();
        script_(*this);
        this->end_loop();
    }

  private:
    std::function<void(Scripted&)> script_;
};

using ScriptedReactor = Scripted<Parallel::Reactor>;
using ScriptedFdReactor = Scripted<Parallel::FdReactor>;

// Microseconds f takes.
inline long long elapsed_us(const std::function<void()>& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace ReactorTest

#endif  // XELMD_TESTS_PARALLEL_SCRIPTED_FD_REACTOR_H

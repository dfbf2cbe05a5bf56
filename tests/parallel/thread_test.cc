#include "parallel/thread.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/measure.h"
#include "parallel/clock_thread.h"

namespace {

int kernel_tid() {
    return static_cast<int>(syscall(SYS_gettid));
}

// Records the steps it runs and where; stops itself after the given number of
// loop passes, or with 0 spins until stopped.
class StepThread : public Parallel::Thread {
  public:
    explicit StepThread(const char* name, int passes = 3) : Thread(name), passes_(passes) {}
    std::vector<std::string> steps;
    std::atomic<int> loops{0};
    int id_seen = 0;
    bool current_inside = false, running_inside = false;

  protected:
    void before_proc() override {
        steps.push_back("before");
        id_seen = kernel_tid();
        current_inside = is_current();
        running_inside = is_running();
    }
    void loop_proc() override {
        if (steps.back() != "loop") steps.push_back("loop");
        if (++loops == passes_) stop();
        if (passes_ == 0) usleep(100);
    }
    void after_proc() override { steps.push_back("after"); }
    void exit_proc() override {
        steps.push_back("exit");
        Thread::exit_proc();
    }

  private:
    int passes_;
};

// A named thread prints a start line, its name cut to 67 characters; an
// unnamed one prints nothing.
TEST(Thread, RunsItsStepsInOrderOnTheNewThread) {
    for (const std::string& name : {std::string(), std::string("io"), std::string(100, 'n')}) {
        StepThread t(name.empty() ? nullptr : name.c_str());
        EXPECT_EQ(t.get_id(), 0);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(t.create(true, nullptr));
        ASSERT_TRUE(t.join());
        const std::string kept = name.substr(0, 67);
        EXPECT_EQ(
            testing::internal::GetCapturedStdout(),
            name.empty() ? "" : "thread [" + kept + "] [" + std::to_string(t.get_id()) + "]\n");
        EXPECT_EQ(t.get_name(), kept);
        EXPECT_EQ(t.steps, (std::vector<std::string>{"before", "loop", "after", "exit"}));
        EXPECT_EQ(t.loops.load(), 3);
        EXPECT_EQ(t.get_id(), t.id_seen);
        EXPECT_NE(t.get_id(), Parallel::Thread::get_current());
        EXPECT_TRUE(t.current_inside && t.running_inside);
        EXPECT_FALSE(t.is_current());
        EXPECT_FALSE(t.join());  // already joined
    }
    EXPECT_FALSE(StepThread(nullptr).join());  // never created
    EXPECT_EQ(Parallel::Thread::get_current(), kernel_tid());
}

// Started without waiting, bound to the CPU this one runs on.
TEST(Thread, CreateWithAMaskBindsTheNewThread) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    StepThread t(nullptr, 0);
    ASSERT_TRUE(t.create(false, &one));
    while (t.loops.load() == 0) usleep(100);
    cpu_set_t bound;
    ASSERT_EQ(sched_getaffinity(t.get_id(), sizeof(bound), &bound), 0);
    EXPECT_TRUE(CPU_EQUAL(&bound, &one));
    t.stop();
    EXPECT_TRUE(t.join());
}

// The general set keeps the odd CPUs between the first and the last.
TEST(GeneralCpuSet, KeepsOddCpusBetweenTheFirstAndTheLast) {
    const struct {
        long cpus;
        long result;
        int count;  // 1, 3, ... below cpus - 1, and below 1024
    } cases[] = {{8, 8, 3}, {2, 2, 0}, {0, 0, 0}, {-3, 0, 0}, {9, 9, 4}, {5000, 5000, 512}};
    for (const auto& c : cases) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(4, &set);  // cleared first
        EXPECT_EQ(Parallel::init_general_cpu_set(&set, c.cpus), c.result);
        EXPECT_EQ(CPU_COUNT(&set), c.count) << c.cpus;
        EXPECT_EQ(CPU_ISSET(1, &set) != 0, c.count > 0) << c.cpus;
        EXPECT_FALSE(c.cpus > 0 && CPU_ISSET(c.cpus - 1, &set)) << c.cpus;
    }
}

TEST(ClockThread, PublishesAnAdvancingClock) {
    EXPECT_GT(Parallel::g_global_clock.load(), 0u);
    EXPECT_FALSE(Parallel::g_enable_global_clock);
    testing::internal::CaptureStdout();
    Parallel::ClockThread clock;
    EXPECT_STREQ(clock.get_name(), "clock_thread");
    ASSERT_TRUE(clock.create(true, nullptr));
    unsigned long start = Base::Measure::get_clock();
    unsigned long seen = 0;
    for (int i = 0; i < 2000 && seen <= start; ++i) {
        usleep(500);
        seen = Parallel::g_global_clock.load();
    }
    clock.stop();
    clock.join();
    EXPECT_GT(seen, start);
    EXPECT_LT(seen, Base::Measure::get_clock());
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("thread [clock_thread] [", 0), 0u);
}

}  // namespace

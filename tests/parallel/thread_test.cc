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

// Records the steps it runs and where; ends after a few loop passes.
class StepThread : public Parallel::Thread {
  public:
    explicit StepThread(const char* name, int passes = 3) : Thread(name), passes_(passes) {}

    std::vector<std::string> steps;
    std::atomic<int> loops{0};
    int thread_id_seen = 0;
    bool current_inside = false;
    bool running_inside = false;

  protected:
    void before_proc() override {
        steps.push_back("before");
        thread_id_seen = static_cast<int>(syscall(SYS_gettid));
        current_inside = is_current();
        running_inside = is_running();
    }
    void loop_proc() override {
        if (steps.back() != "loop") steps.push_back("loop");
        if (loops.fetch_add(1) + 1 >= passes_) stop();
    }
    void after_proc() override { steps.push_back("after"); }
    void exit_proc() override {
        steps.push_back("exit");
        Thread::exit_proc();
    }

  private:
    int passes_;
};

// Spins until told to stop.
class SpinThread : public Parallel::Thread {
  public:
    explicit SpinThread(const char* name) : Thread(name) {}
    std::atomic<int> affinity_count{-1};
    std::atomic<int> passes{0};

  protected:
    void before_proc() override {
        cpu_set_t set;
        CPU_ZERO(&set);
        if (sched_getaffinity(0, sizeof(set), &set) == 0) affinity_count = CPU_COUNT(&set);
    }
    void loop_proc() override {
        passes.fetch_add(1, std::memory_order_relaxed);
        usleep(100);
    }
};

TEST(Thread, RunsItsStepsInOrderOnTheNewThread) {
    StepThread t(nullptr);
    EXPECT_EQ(t.get_id(), 0);
    EXPECT_FALSE(t.is_current());
    ASSERT_TRUE(t.create(true, nullptr));
    ASSERT_TRUE(t.join());
    EXPECT_EQ(t.steps, (std::vector<std::string>{"before", "loop", "after", "exit"}));
    EXPECT_EQ(t.loops.load(), 3);
    EXPECT_EQ(t.get_id(), t.thread_id_seen);
    EXPECT_NE(t.get_id(), Parallel::Thread::get_current());
    EXPECT_TRUE(t.current_inside);
    EXPECT_TRUE(t.running_inside);
    EXPECT_FALSE(t.is_current());
    EXPECT_FALSE(t.join());                    // already joined
    EXPECT_FALSE(StepThread(nullptr).join());  // never created
    EXPECT_EQ(Parallel::Thread::get_current(), static_cast<int>(syscall(SYS_gettid)));
}

TEST(Thread, CreateWithWaitReturnsOnlyOnceTheThreadRuns) {
    for (int i = 0; i < 20; ++i) {
        SpinThread t(nullptr);
        ASSERT_TRUE(t.create(true, nullptr));
        EXPECT_NE(t.get_id(), 0);
        EXPECT_TRUE(t.is_running());
        t.stop();
        EXPECT_FALSE(t.is_running());
        ASSERT_TRUE(t.join());
    }
    SpinThread t(nullptr);  // without waiting it still starts and stops
    ASSERT_TRUE(t.create(false, nullptr));
    while (t.passes.load(std::memory_order_relaxed) == 0) usleep(100);
    t.stop();
    EXPECT_TRUE(t.join());
}

// An unnamed thread prints nothing; a name is cut to 67 characters.
TEST(Thread, NamedThreadPrintsItsStartLine) {
    for (const std::string& name : {std::string(), std::string("io"), std::string(100, 'n')}) {
        testing::internal::CaptureStdout();
        SpinThread t(name.empty() ? nullptr : name.c_str());
        ASSERT_TRUE(t.create(true, nullptr));
        t.stop();
        t.join();
        const std::string kept = name.substr(0, 67);
        EXPECT_EQ(
            testing::internal::GetCapturedStdout(),
            name.empty() ? "" : "thread [" + kept + "] [" + std::to_string(t.get_id()) + "]\n");
        EXPECT_EQ(t.get_name(), kept);
    }
}

TEST(Thread, CpuMaskBindsTheNewThread) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof(allowed), &allowed), 0);
    int first = -1;
    for (int i = 0; i < CPU_SETSIZE && first < 0; ++i)
        if (CPU_ISSET(i, &allowed)) first = i;
    ASSERT_GE(first, 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    SpinThread t(nullptr);
    ASSERT_TRUE(t.create(true, &one));
    while (t.affinity_count.load() < 0) usleep(100);
    EXPECT_EQ(t.affinity_count.load(), 1);
    t.stop();
    t.join();
}

TEST(GeneralCpuSet, KeepsOddCpusBetweenTheFirstAndTheLast) {
    cpu_set_t set;
    EXPECT_EQ(Parallel::init_general_cpu_set(&set, 8), 8);
    EXPECT_EQ(CPU_COUNT(&set), 3);
    EXPECT_TRUE(CPU_ISSET(1, &set) && CPU_ISSET(3, &set) && CPU_ISSET(5, &set));

    EXPECT_EQ(Parallel::init_general_cpu_set(&set, 2), 2);
    EXPECT_EQ(CPU_COUNT(&set), 0);
    CPU_SET(4, &set);
    EXPECT_EQ(Parallel::init_general_cpu_set(&set, 0), 0);
    EXPECT_EQ(CPU_COUNT(&set), 0);
    EXPECT_EQ(Parallel::init_general_cpu_set(&set, -3), 0);

    EXPECT_EQ(Parallel::init_general_cpu_set(&set, 9), 9);
    EXPECT_EQ(CPU_COUNT(&set), 4);  // 1, 3, 5, 7; 8 is the last
    EXPECT_EQ(Parallel::init_general_cpu_set(&set, 5000), 5000);
    EXPECT_EQ(CPU_COUNT(&set), 512);  // odd numbers below 1024
}

TEST(ClockThread, PublishesAnAdvancingClock) {
    unsigned long loaded = Parallel::g_global_clock.load();
    EXPECT_GT(loaded, 0u);
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
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_GT(seen, start);
    EXPECT_LT(seen, Base::Measure::get_clock());
    EXPECT_EQ(out.rfind("thread [clock_thread] [", 0), 0u);
}

}  // namespace

#include "parallel/thread.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>


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
        EXPECT_FALSE(t.is_current());
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

TEST(Thread, CreateWithWaitReturnsOnlyOnceTheThreadRunsAndMasksBind) {
    for (int i = 0; i < 20; ++i) {
        StepThread t(nullptr, 0);
        ASSERT_TRUE(t.create(true, nullptr));
        EXPECT_NE(t.get_id(), 0);
        EXPECT_TRUE(t.is_running());
        t.stop();
        EXPECT_FALSE(t.is_running());
        ASSERT_TRUE(t.join());
    }
    // Without waiting it still starts, here bound to the CPU this one runs on.
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

}  // namespace

// Notifies bound to a reactor: producers wake the reactor through its group,
// and the reactor's notify event wakes every notify of a list. Reporters
// report through their log interface.
#include <gtest/gtest.h>

#include <thread>

#include "base/list.h"
#include "base/notify.h"
#include "lines_reporter.h"
#include "parallel/fd_notify.h"
#include "parallel/fd_reactor.h"
#include "parallel/handler_notify.h"
#include "scripted_fd_reactor.h"

namespace {

using ReactorTest::run_script;
using ReactorTest::ScriptedFdReactor;

const unsigned long T0 = 1000000000UL;

class Counting : public Base::Notify {
  public:
    explicit Counting(Base::NotifyGroup* group) : Notify(group) {}
    int local = 0, remote = 0;
    void wakeup(bool cross_thread) override { ++(cross_thread ? remote : local); }
};

class NoFd : public Parallel::Fd {};

TEST(Notify, NotifyEventWakesEveryNotifyOfTheList) {
    run_script([](ScriptedFdReactor& r) {
        Counting a(&r), b(&r);
        Base::List list(false, 0);
        list.push_back(&a);
        list.push_back(&b);
        r.notify(&list);  // on the reactor thread: runs at once
        EXPECT_TRUE(a.local == 1 && b.local == 1 && a.remote + b.remote == 0);
    });
}

// Handler and descriptor notifies join the reactor's group, through which a
// producer on another thread ends the idle wait.
TEST(Notify, ProducerOnAnotherThreadEndsTheIdleWait) {
    run_script([](ScriptedFdReactor& r) {
        Parallel::Handler handler;
        NoFd fd;
        Parallel::HandlerNotify hn(&r, &handler);
        Parallel::FdNotify fn(&r, &fd);
        EXPECT_TRUE(handler.is_notify() && fd.is_notify());
        EXPECT_EQ(hn.get_group(), static_cast<Base::NotifyGroup*>(&r));
        EXPECT_EQ(Parallel::FdNotify(nullptr, nullptr).get_group(), nullptr);
        EXPECT_EQ(Parallel::HandlerNotify(nullptr, nullptr).get_group(), nullptr);
        Base::Producer producer;
        Base::List::Node* node = nullptr;
        ASSERT_NE(producer.add(&fn, node), nullptr);
        r.set_busy(0);
        EXPECT_FALSE(r.pass(T0));  // nothing woke it: 10 ms wait
        std::thread([&] { EXPECT_EQ(producer.produce(), 1); }).join();
        EXPECT_TRUE(r.pass(T0));
        // On its own thread a produce extends the busy window instead.
        EXPECT_EQ(producer.produce(), 1);
        EXPECT_EQ(r.get_busy_until(), T0 + 7500);
    });
}

TEST(Reporter, ReportsThroughItsLogInterface) {
    ReactorTest::Lines reporter;
    Base::Reportable* log = Parallel::Reporter::get_log(&reporter);
    ASSERT_NE(log, nullptr);
    log->report(5, "XeloClientChannel", "connect ok! [%s] [%d]", "127.0.0.1", 9000);
    EXPECT_EQ(reporter.get(),
              std::vector<std::string>{"5 XeloClientChannel connect ok! [127.0.0.1] [9000]"});
    EXPECT_EQ(Parallel::Reporter::get_log(nullptr), nullptr);
}

}  // namespace

// The API object on a network thread its owner supplies: Init and Release
// use that reactor without starting or stopping it, and leave it as they
// found it, so that it can serve further objects.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "api/md_api.h"
#include "base/measure.h"
#include "parallel/fd_reactor.h"
#include "tests/api/raw_front.h"

namespace {

bool wait_until(const std::function<bool()>& done) {
    for (int i = 0; i < 2500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
}

class OutsideReactor : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/outside_reactor_XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override {
        remove((dir_ + "/md.con").c_str());
        rmdir(dir_.c_str());
    }
    // Connects one API object through the reactor, then releases it.
    void connect_and_release(Parallel::FdReactor* reactor) {
        ApiTest::RecordingSpi spi;
        auto* api = new Api::MdApi(dir_.c_str(), reactor);
        api->RegisterSpi(&spi);
        api->RegisterFront(front_.address().c_str());
        ASSERT_EQ(api->Init(), 0);
        ASSERT_TRUE(front_.accept_client(5000));
        ASSERT_TRUE(spi.wait_for("connected"));
        ASSERT_EQ(api->Release(), 0);
        EXPECT_EQ(spi.lines(), (std::vector<std::string>{"connected", "disconnected 0"}));
        api->Join();
        front_.drop();
    }
    ApiTest::RawFront front_;
    std::string dir_;
};

TEST_F(OutsideReactor, ReleaseLeavesTheRunningReactorCleanForTheNextObject) {
    auto* reactor = new Parallel::FdReactor(nullptr);
    ASSERT_TRUE(reactor->create(true, nullptr));
    // The loop holds its notify descriptor once it has begun.
    ASSERT_TRUE(wait_until([&] { return reactor->get_fd_count() == 1; }));
    const int handlers = reactor->get_handler_count();
    for (int round = 0; round < 3; ++round) {
        connect_and_release(reactor);
        // The reactor was neither stopped nor left holding the object's parts.
        EXPECT_TRUE(reactor->is_running());
        EXPECT_TRUE(wait_until([&] { return reactor->get_fd_count() == 1; }));
        EXPECT_EQ(reactor->get_handler_count(), handlers);
    }
    reactor->stop();
    reactor->join();
    delete reactor;
}

// A reactor its owner drives by hand on a thread of its own, never started
// with create(): its loop makes synchronous calls on itself (a session's
// timers, Release's teardown), which must run at once, not wait for it.
class HandDriven : public Parallel::FdReactor {
  public:
    HandDriven() : Parallel::FdReactor(nullptr) {}
    void drive(const std::atomic<bool>& stop) {
        begin_loop();
        while (!stop.load()) run_pass(Base::Measure::get_clock());
        end_loop();
    }
};

TEST_F(OutsideReactor, ReactorDrivenByHandServesObjectsInTurn) {
    auto* reactor = new HandDriven();
    std::atomic<bool> stop{false};
    std::thread loop([&] { reactor->drive(stop); });
    for (int round = 0; round < 2; ++round) connect_and_release(reactor);
    stop.store(true);
    loop.join();
    // Its thread claimed the loop only while it drove it.
    EXPECT_EQ(reactor->get_id(), 0);
    EXPECT_FALSE(reactor->is_running());
    delete reactor;
}

}  // namespace

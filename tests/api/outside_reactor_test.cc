// The API object on a network thread its owner supplies: Init and Release
// use that reactor without starting or stopping it, and leave it as they
// found it, so that it can serve further objects.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "api/md_api.h"
#include "base/measure.h"
#include "parallel/fd_reactor.h"
#include "tests/api/raw_front.h"

#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

class CountingSpi : public CTarnXeloMduserSpi {
  public:
    void OnFrontConnected() override { connected.fetch_add(1); }
    void OnFrontDisconnected(int reason) override {
        last_reason.store(reason);
        disconnected.fetch_add(1);
    }
    std::atomic<int> connected{0}, disconnected{0}, last_reason{-1};
};

bool wait_until(const std::function<bool()>& done, int timeout_ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

// Connects one API object through the reactor, then releases it.
void connect_and_release(Parallel::FdReactor* reactor, ApiTest::RawFront& front,
                         const std::string& dir) {
    CountingSpi spi;
    auto* api = new Api::MdApi(dir.c_str(), reactor);
    api->RegisterSpi(&spi);
    api->RegisterFront(front.address().c_str());
    ASSERT_EQ(api->Init(), 0);
    ASSERT_TRUE(front.accept_client(5000));
    ASSERT_TRUE(wait_until([&] { return spi.connected.load() == 1; }));
    ASSERT_EQ(api->Release(), 0);
    EXPECT_EQ(spi.disconnected.load(), 1);
    EXPECT_EQ(spi.last_reason.load(), 0);
    api->Join();
    front.drop();
}

TEST(OutsideReactor, ReleaseLeavesTheRunningReactorCleanForTheNextObject) {
    ApiTest::RawFront front;
    char dir[] = "/tmp/outside_reactor_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    auto* reactor = new Parallel::FdReactor(nullptr);
    ASSERT_TRUE(reactor->create(true, nullptr));
    // The loop holds its notify descriptor once it has begun.
    const int fds = 1;
    ASSERT_TRUE(wait_until([&] { return reactor->get_fd_count() == fds; }));
    int handlers = reactor->get_handler_count();
    for (int round = 0; round < 3; ++round) {
        connect_and_release(reactor, front, dir);
        // The reactor was neither stopped nor left holding the object's parts.
        EXPECT_TRUE(reactor->is_running());
        EXPECT_TRUE(wait_until([&] { return reactor->get_fd_count() == fds; }));
        EXPECT_EQ(reactor->get_handler_count(), handlers);
    }
    reactor->stop();
    reactor->join();
    delete reactor;
    remove((std::string(dir) + "/md.con").c_str());
    rmdir(dir);
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

TEST(OutsideReactor, ReactorDrivenByHandServesObjectsInTurn) {
    ApiTest::RawFront front;
    char dir[] = "/tmp/outside_reactor_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    auto* reactor = new HandDriven();
    std::atomic<bool> stop{false};
    std::thread loop([&] { reactor->drive(stop); });
    for (int round = 0; round < 2; ++round) connect_and_release(reactor, front, dir);
    stop.store(true);
    loop.join();
    // Its thread claimed the loop only while it drove it.
    EXPECT_EQ(reactor->get_id(), 0);
    EXPECT_FALSE(reactor->is_running());
    delete reactor;
    remove((std::string(dir) + "/md.con").c_str());
    rmdir(dir);
}

}  // namespace

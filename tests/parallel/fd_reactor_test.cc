#include "parallel/fd_reactor.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "base/list.h"
#include "base/notify.h"
#include "parallel/fd_notify.h"
#include "parallel/handler_notify.h"
#include "scripted_fd_reactor.h"

namespace {

using Log = std::vector<std::string>;
using ReactorTest::ScriptedFdReactor;
using ReactorTest::T0;

// A handler or descriptor that counts its own destruction.
template <class B>
class Owned : public B {
  public:
    explicit Owned(int* destroyed) : destroyed_(destroyed) {}
    ~Owned() override { ++*destroyed_; }

  private:
    int* destroyed_;
};

// A descriptor by number (below 1 for none), driven like a channel: write()
// sends what is pending, read() drains what came. Logs its callbacks ("name",
// "name:r") when given a log.
class TestFd : public Parallel::Fd {
  public:
    TestFd(const char* name, int fd, Log* log = nullptr) : name_(name), fd_(fd), log_(log) {
        if (fd_ > 0) fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    int pending = 0;       // bytes to send
    int forced_write = 0;  // when not 0, write() returns it
    int forced_read = 0;   // when negative, read() returns it
    int reads = 0, writes = 0;
    long long bytes_read = 0;

    int get_id() const override { return fd_; }
    int write() override {
        ++writes;
        if (log_) log_->push_back(name_);
        if (forced_write != 0) return forced_write;
        if (pending == 0) return -2;
        char chunk[4096] = {};
        ssize_t n = ::write(fd_, chunk, pending < 4096 ? pending : 4096);
        if (n < 0) return errno == EAGAIN ? -1 : -3;
        pending -= static_cast<int>(n);
        return 0;
    }
    int read() override {
        ++reads;
        if (log_) log_->push_back(name_ + ":r");
        if (forced_read < 0) return forced_read;  // leaves the data waiting
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd_, buffer, sizeof(buffer))) > 0) bytes_read += n;
        return 0;
    }

  private:
    std::string name_;
    int fd_;
    Log* log_;
};

struct Pair {
    int fd[2];
    Pair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0); }
    ~Pair() {
        close(fd[0]);
        close(fd[1]);
    }
};

// The write sweep offers every active descriptor a write, newest first, and
// rotates; one that would block is parked until epoll reports it writable,
// then offered first.
TEST(FdReactor, WriteSweepRotatesAndParksABlockedWriterUntilWritable) {
    Pair full, p2;
    char chunk[65536] = {};  // fills full.fd[0]'s send buffer until it would block
    while (send(full.fd[0], chunk, 4096, MSG_DONTWAIT) > 0) {
    }
    ScriptedFdReactor::run([&](ScriptedFdReactor& r) {
        Log log;
        TestFd a("a", full.fd[0], &log), b("b", p2.fd[0], &log), q("q", 0, &log);
        a.pending = 1;
        for (TestFd* fd : {&b, &a, &q}) r.add_fd(fd);
        EXPECT_EQ(r.get_fd_count(), 4);
        r.pass(T0);  // a blocks and is parked
        EXPECT_EQ(a.get_last_active(), 0u);
        for (int i = 1; i < 4; ++i) r.pass(T0 + i);
        EXPECT_EQ(log, (Log{"q", "a", "b", "b", "q", "q", "b", "b", "q"}));
        log.clear();
        while (recv(full.fd[1], chunk, sizeof(chunk), MSG_DONTWAIT) > 0) {
        }
        EXPECT_TRUE(r.pass(T0 + 4));  // EPOLLOUT reactivates a
        EXPECT_EQ(a.get_last_active(), T0 + 4);
        r.pass(T0 + 5);
        EXPECT_EQ(log, (Log{"q", "b", "a", "b", "q"}));
        EXPECT_EQ(a.pending, 0);
        for (TestFd* fd : {&a, &b, &q}) r.remove_fd(fd);
        EXPECT_EQ(r.get_fd_count(), 1);
    });
}

// Work opens the busy window; a pass inside it only polls and, when it finds
// nothing, closes the window so that the next one sleeps in epoll.
TEST(FdReactor, IdlePassBlocksInEpollOnlyOutsideTheBusyWindow) {
    ScriptedFdReactor::run([](ScriptedFdReactor& r) {
        r.set_busy(0);
        EXPECT_GE(ReactorTest::elapsed_us([&] { EXPECT_FALSE(r.pass(T0)); }), 9000);
        Parallel::Handler target;
        r.add_event(1001, nullptr, nullptr, &target, true);
        EXPECT_TRUE(r.pass(T0 + 1));
        EXPECT_EQ(r.get_busy_until(), T0 + 1 + 7500);
        EXPECT_FALSE(r.pass(T0 + 2));
        EXPECT_EQ(r.get_busy_until(), 0u);
        // Three wake-ups from another thread cost one pass: the counter is
        // drained and the pass after sleeps again.
        std::thread([&] {
            for (int i = 0; i < 3; ++i) r.wakeup(true);
        }).join();
        EXPECT_TRUE(r.pass(T0 + 3));
        r.set_busy(0);
        EXPECT_GE(ReactorTest::elapsed_us([&] { EXPECT_FALSE(r.pass(T0 + 4)); }), 9000);
        r.wakeup(true);  // from its own thread: the busy window opens instead
        EXPECT_EQ(r.get_busy_until(), T0 + 4 + 7500);
    });
}

// Has idle work for a given number of calls.
class Slices : public Parallel::Handler {
  public:
    explicit Slices(int slices) : left(slices) {}
    bool on_idle() override {
        ++calls;
        return left > 0 && left-- > 0;
    }
    int left;
    int calls = 0;
};

// Idle work takes the place of the sleep, a slice a pass, each followed by a
// look without waiting; a pass that worked, or one inside the busy window,
// makes no idle call, and the loop sleeps again once none is left.
TEST(FdReactor, IdleWorkRunsWhereTheLoopWouldSleep) {
    ScriptedFdReactor::run([](ScriptedFdReactor& r) {
        Slices idle(2);
        r.add_handler(&idle);  // from the reactor thread: linked at once
        r.set_busy(0);
        r.add_event(1001, nullptr, nullptr, &idle, true);
        EXPECT_TRUE(r.pass(T0));
        EXPECT_FALSE(r.pass(T0 + 1));
        EXPECT_EQ(idle.calls, 0);
        for (unsigned long now = T0 + 2; now < T0 + 6; now += 2) {
            EXPECT_LT(ReactorTest::elapsed_us([&] { EXPECT_TRUE(r.pass(now)); }), 9000);
            EXPECT_FALSE(r.pass(now + 1));
        }
        EXPECT_EQ(idle.left, 0);
        EXPECT_GE(ReactorTest::elapsed_us([&] { EXPECT_FALSE(r.pass(T0 + 6)); }), 9000);
        EXPECT_EQ(idle.calls, 3);
        r.remove_handler(&idle);
    });
}

// A read-blocked descriptor produces no events until its mask is rewritten;
// a failed read skips the writability of the same event.
TEST(FdReactor, ReadBlockingAndFailedReads) {
    Pair p1, p2;
    ScriptedFdReactor::run([&](ScriptedFdReactor& r) {
        TestFd a("a", p1.fd[0]), b("b", p2.fd[0]);
        a.set_read_blocked(true);
        r.add_fd(&a);  // registers reading whatever the flag
        ASSERT_EQ(::write(p1.fd[1], "x", 1), 1);
        r.pass(T0);
        EXPECT_EQ(a.reads, 1);
        EXPECT_EQ(a.get_last_active(), T0);
        r.set_blocking(&a, false);  // empty mask
        ASSERT_EQ(::write(p1.fd[1], "y", 1), 1);
        r.pass(T0 + 1);
        EXPECT_EQ(a.reads, 1);
        a.set_read_blocked(false);
        r.set_blocking(&a, false);
        r.pass(T0 + 2);
        EXPECT_EQ(a.reads, 2);
        EXPECT_EQ(a.bytes_read, 2);
        r.remove_fd(&a);

        r.add_fd(&b);
        // It claims to block although the socket is free, so epoll reports
        // EPOLLOUT with the EPOLLIN of the waiting byte, and its read fails.
        b.forced_write = -1;
        b.forced_read = -1;
        ASSERT_EQ(::write(p2.fd[1], "x", 1), 1);
        for (int i = 10; i < 13; ++i) r.pass(T0 + i);
        EXPECT_EQ(b.writes, 1);
        EXPECT_EQ(b.reads, 3);
        EXPECT_EQ(b.get_last_active(), 0u);
        b.forced_read = 0;
        b.forced_write = -2;
        r.pass(T0 + 13);  // now the EPOLLOUT counts
        EXPECT_EQ(b.get_last_active(), T0 + 13);
        r.pass(T0 + 14);
        EXPECT_EQ(b.writes, 2);
        r.remove_fd(&b);
    });
}

// Unknown descriptors are ignored, and events without their argument; unknown
// event ids are refused; descriptors epoll refuses are
// reported and left out, and one closed before its removal leaves all the same.
TEST(FdReactor, UnknownAndRefusedDescriptors) {
    ScriptedFdReactor::run([](ScriptedFdReactor& r) {
        TestFd q("q", 0);
        r.remove_fd(&q);  // never added
        EXPECT_EQ(r.on_event(Parallel::FdReactor::EVENT_ACTIVATE_FD, &q), 0);
        EXPECT_EQ(r.on_event(Parallel::FdReactor::EVENT_PARK_FD, &q), 0);
        EXPECT_FALSE(q.is_linked());
        for (int id : {25, 10, 1001}) EXPECT_EQ(r.on_event(id, nullptr), -1) << id;
        for (int id = 11; id <= 24; ++id) EXPECT_EQ(r.on_event(id, nullptr), 0) << id;
        r.add_fd(&q);
        r.add_fd(&q);  // twice: linked once
        EXPECT_EQ(r.get_fd_count(), 2);
        r.set_blocking(&q, true);  // no descriptor: nothing
        r.remove_fd(&q);
        EXPECT_EQ(r.get_fd_count(), 1);

        int dir = open(".", O_RDONLY | O_DIRECTORY);  // not pollable
        int closed = dup(dir);
        close(closed);
        for (int id : {dir, closed}) {
            TestFd f("f", id);
            EXPECT_EQ(r.on_event(Parallel::FdReactor::EVENT_ADD_FD, &f),
                      Parallel::FdReactor::REFUSED);
            EXPECT_FALSE(f.is_linked());
            EXPECT_EQ(r.get_fd_count(), 1);
            EXPECT_EQ(r.set_blocking(&f, true), -1);
        }
        close(dir);
        Pair pair;
        TestFd early("early", dup(pair.fd[0]));
        EXPECT_EQ(r.on_event(Parallel::FdReactor::EVENT_ADD_FD, &early), 0);
        close(early.get_id());
        EXPECT_EQ(r.on_event(Parallel::FdReactor::EVENT_REMOVE_FD, &early),
                  Parallel::FdReactor::REFUSED);
        EXPECT_FALSE(early.is_linked());
        EXPECT_EQ(r.get_fd_count(), 1);
    });
}

TEST(FdReactorDeathTest, ExhaustedDescriptorTableAbortsNamingTheCall) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            rlimit none;
            getrlimit(RLIMIT_NOFILE, &none);
            none.rlim_cur = 0;
            setrlimit(RLIMIT_NOFILE, &none);
            Parallel::FdReactor reactor(nullptr);
        },
        "FATAL! (eventfd|epoll_create1) failed: \\[Too many open files\\]");
}

// Destruction, after the loop has ended, destroys the handlers and
// descriptors still linked and frees the timers.
TEST(FdReactor, DestructionDestroysHandlersAndDescriptorsStillLinked) {
    int destroyed = 0;
    {
        ScriptedFdReactor r([&](ScriptedFdReactor& self) {
            self.add_fd(new Owned<Parallel::Fd>(&destroyed));
            self.add_fd(new Owned<Parallel::Fd>(&destroyed));
            self.add_handler(new Owned<Parallel::Handler>(&destroyed));
            Parallel::Handler* parked = new Owned<Parallel::Handler>(&destroyed);
            self.add_handler(parked);
            self.disable_handler(parked);
            self.add_timer(1, 1000, true, nullptr, false);
            self.add_timer(2, 1000, false, nullptr, false);
            self.remove_timer(self.add_timer(3, 1000, true, nullptr, false));
            self.pass(T0);  // the descriptors' default write() counts as work
        });
        ASSERT_TRUE(r.create(true, nullptr));
        ASSERT_TRUE(r.join());
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 4);
    delete new Parallel::FdReactor(nullptr);  // never started
}

// Notifies bound to a reactor: producers wake the reactor through its group,
// and the reactor's notify event wakes every notify of a list.
class Counting : public Base::Notify {
  public:
    explicit Counting(Base::NotifyGroup* group) : Notify(group) {}
    int local = 0, remote = 0;
    void wakeup(bool cross_thread) override { ++(cross_thread ? remote : local); }
};

// Handler and descriptor notifies join the reactor's group, through which a
// producer on another thread ends the idle wait; the notify event wakes every
// notify of a list.
TEST(Notify, ProducerOnAnotherThreadEndsTheIdleWait) {
    ScriptedFdReactor::run([](ScriptedFdReactor& r) {
        Parallel::Handler handler;
        TestFd fd("notified", 0);
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
        Counting a(&r), b(&r);
        Base::List list(false, 0);
        list.push_back(&a);
        list.push_back(&b);
        r.notify(&list);  // on the reactor thread: runs at once
        EXPECT_TRUE(a.local == 1 && b.local == 1 && a.remote + b.remote == 0);
    });
}

}  // namespace

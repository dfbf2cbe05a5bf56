#include "parallel/fd_reactor.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/measure.h"
#include "base/socket.h"
#include "scripted_fd_reactor.h"

namespace {

using ReactorTest::run_script;
using ReactorTest::ScriptedFdReactor;

const unsigned long T0 = 1000000000UL;

// One end of a socket pair, driven like a channel: write() sends what is
// pending, read() drains what came. Logs its callbacks.
class PairFd : public Parallel::Fd {
  public:
    PairFd(const char* name, int fd, std::vector<std::string>* log)
        : name_(name), fd_(fd), log_(log) {
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    int pending = 0;       // bytes to send
    int forced_write = 0;  // when not 0, write() returns it
    int forced_read = 0;   // when not 0, read() returns it
    int reads = 0;
    int writes = 0;
    long long bytes_read = 0;

    int get_id() const override { return fd_; }
    int write() override {
        ++writes;
        log_->push_back(name_);
        if (forced_write != 0) return forced_write;
        if (pending == 0) return -2;
        char chunk[4096] = {};
        int want = pending < 4096 ? pending : 4096;
        ssize_t n = ::write(fd_, chunk, want);
        if (n < 0) return errno == EAGAIN ? -1 : -3;
        pending -= static_cast<int>(n);
        return 0;
    }
    int read() override {
        ++reads;
        log_->push_back(name_ + ":r");
        if (forced_read < 0) return forced_read;  // leaves the data waiting
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd_, buffer, sizeof(buffer))) > 0) bytes_read += n;
        return 0;
    }

  private:
    std::string name_;
    int fd_;
    std::vector<std::string>* log_;
};

// A descriptor with nothing to watch.
class Quiet : public Parallel::Fd {
  public:
    explicit Quiet(std::vector<std::string>* log) : log_(log) {}
    int write() override {
        log_->push_back("q");
        return -2;
    }

  private:
    std::vector<std::string>* log_;
};

struct Pair {
    int fd[2];
    Pair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0); }
    ~Pair() {
        close(fd[0]);
        close(fd[1]);
    }
    // Fills fd[0]'s send buffer until it would block.
    void fill() {
        fcntl(fd[0], F_SETFL, fcntl(fd[0], F_GETFL) | O_NONBLOCK);
        char chunk[4096] = {};
        while (::write(fd[0], chunk, sizeof(chunk)) > 0) {
        }
    }
    void drain() {
        fcntl(fd[1], F_SETFL, fcntl(fd[1], F_GETFL) | O_NONBLOCK);
        char chunk[65536];
        while (::read(fd[1], chunk, sizeof(chunk)) > 0) {
        }
    }
};

TEST(FdReactor, BlockedWriterIsParkedUntilWritableThenOfferedFirst) {
    Pair pair;
    pair.fill();
    run_script([&](ScriptedFdReactor& r) {
        std::vector<std::string> log;
        PairFd a("a", pair.fd[0], &log);
        Quiet q(&log);
        a.pending = 1;
        r.add_fd(&a);
        r.add_fd(&q);
        EXPECT_EQ(r.get_fd_count(), 3);
        r.pass(T0);  // q, then a blocks and is parked
        EXPECT_EQ(a.get_last_active(), 0u);
        r.pass(T0 + 1);
        r.pass(T0 + 2);
        EXPECT_EQ(log, (std::vector<std::string>{"q", "a", "q", "q"}));
        log.clear();
        pair.drain();
        EXPECT_TRUE(r.pass(T0 + 3));  // EPOLLOUT reactivates a
        EXPECT_EQ(a.get_last_active(), T0 + 3);
        r.pass(T0 + 4);
        EXPECT_EQ(log, (std::vector<std::string>{"q", "a", "q"}));
        EXPECT_EQ(a.pending, 0);
        r.remove_fd(&a);
        r.remove_fd(&q);
        EXPECT_EQ(r.get_fd_count(), 1);
    });
}

TEST(FdReactor, WriteSweepRotatesActiveDescriptors) {
    run_script([](ScriptedFdReactor& r) {
        std::vector<std::string> log;
        Quiet q(&log);
        Pair p1, p2;
        PairFd a("a", p1.fd[0], &log), b("b", p2.fd[0], &log);
        r.add_fd(&a);
        r.add_fd(&b);
        r.add_fd(&q);
        r.pass(T0);
        r.pass(T0 + 1);
        r.pass(T0 + 2);
        EXPECT_EQ(log, (std::vector<std::string>{"q", "b", "a", "b", "a", "q", "a", "q", "b"}));
        r.remove_fd(&a);
        r.remove_fd(&b);
        r.remove_fd(&q);
    });
}

// Work opens the busy window; a pass inside it only polls and, when it finds
// nothing, closes the window so that the next one sleeps in epoll.
TEST(FdReactor, IdlePassBlocksInEpollOnlyOutsideTheBusyWindow) {
    run_script([](ScriptedFdReactor& r) {
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
        std::thread other([&] {
            for (int i = 0; i < 3; ++i) r.wakeup(true);
        });
        other.join();
        EXPECT_TRUE(r.pass(T0 + 3));
        r.set_busy(0);
        EXPECT_GE(ReactorTest::elapsed_us([&] { EXPECT_FALSE(r.pass(T0 + 4)); }), 9000);
        r.wakeup(true);  // from its own thread: the busy window opens instead
        EXPECT_EQ(r.get_busy_until(), T0 + 4 + 7500);
    });
}

TEST(FdReactor, ReadBlockedDescriptorProducesNoEventsUntilRewritten) {
    Pair pair;
    run_script([&](ScriptedFdReactor& r) {
        std::vector<std::string> log;
        PairFd a("a", pair.fd[0], &log);
        a.set_read_blocked(true);
        r.add_fd(&a);  // registers reading whatever the flag
        ASSERT_EQ(::write(pair.fd[1], "x", 1), 1);
        r.pass(T0);
        EXPECT_EQ(a.reads, 1);
        EXPECT_EQ(a.get_last_active(), T0);
        r.set_blocking(&a, false);  // empty mask
        ASSERT_EQ(::write(pair.fd[1], "y", 1), 1);
        r.pass(T0 + 1);
        EXPECT_EQ(a.reads, 1);
        a.set_read_blocked(false);
        r.set_blocking(&a, false);
        r.pass(T0 + 2);
        EXPECT_EQ(a.reads, 2);
        EXPECT_EQ(a.bytes_read, 2);
        r.remove_fd(&a);
    });
}

TEST(FdReactor, FailedReadSkipsTheWritabilityOfTheSameEvent) {
    Pair pair;
    run_script([&](ScriptedFdReactor& r) {
        std::vector<std::string> log;
        PairFd a("a", pair.fd[0], &log);
        r.add_fd(&a);
        // It claims to block although the socket is free, so epoll reports
        // EPOLLOUT with the EPOLLIN of the waiting byte, and its read fails.
        a.forced_write = -1;
        a.forced_read = -1;
        ASSERT_EQ(::write(pair.fd[1], "x", 1), 1);
        r.pass(T0);
        r.pass(T0 + 1);
        r.pass(T0 + 2);
        EXPECT_EQ(a.writes, 1);
        EXPECT_EQ(a.reads, 3);
        EXPECT_EQ(a.get_last_active(), 0u);
        a.forced_read = 0;
        a.forced_write = -2;
        r.pass(T0 + 3);  // now the EPOLLOUT counts
        EXPECT_EQ(a.get_last_active(), T0 + 3);
        r.pass(T0 + 4);
        EXPECT_EQ(a.writes, 2);
        r.remove_fd(&a);
    });
}

TEST(FdReactor, UnknownDescriptorsAndEventsAreIgnored) {
    run_script([](ScriptedFdReactor& r) {
        std::vector<std::string> log;
        Quiet q(&log);
        r.remove_fd(&q);  // never added
        EXPECT_EQ(r.on_event(Parallel::FdReactor::EVENT_ACTIVATE_FD, &q), 0);
        EXPECT_EQ(r.on_event(Parallel::FdReactor::EVENT_PARK_FD, &q), 0);
        EXPECT_FALSE(q.is_linked());
        EXPECT_EQ(r.get_fd_count(), 1);
        EXPECT_EQ(r.on_event(25, nullptr), -1);
        r.add_fd(&q);
        r.add_fd(&q);  // twice: linked once
        EXPECT_EQ(r.get_fd_count(), 2);
        r.set_blocking(&q, true);  // no descriptor: nothing
        r.remove_fd(&q);
        EXPECT_EQ(r.get_fd_count(), 1);
    });
}

// A descriptor given by number.
class RawFd : public Parallel::Fd {
  public:
    explicit RawFd(int fd) : fd_(fd) {}
    int get_id() const override { return fd_; }

  private:
    int fd_;
};

TEST(FdReactor, DescriptorsEpollRefusesAreReportedAndLeftOut) {
    run_script([](ScriptedFdReactor& r) {
        int dir = open(".", O_RDONLY | O_DIRECTORY);  // not pollable
        int closed = dup(dir);
        close(closed);
        for (int id : {dir, closed}) {
            RawFd f(id);
            EXPECT_EQ(r.on_event(Parallel::FdReactor::EVENT_ADD_FD, &f),
                      Parallel::FdReactor::REFUSED);
            EXPECT_FALSE(f.is_linked());
            EXPECT_EQ(r.get_fd_count(), 1);
            EXPECT_EQ(r.set_blocking(&f, true), -1);
        }
        close(dir);
        // Closed before its removal: it leaves the list all the same.
        Pair pair;
        RawFd early(dup(pair.fd[0]));
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

TEST(FdReactor, DestructionDestroysDescriptorsStillLinked) {
    int destroyed = 0;
    run_script([&](ScriptedFdReactor& r) {
        r.add_fd(new ReactorTest::Owned<Parallel::Fd>(&destroyed));
        r.add_fd(new ReactorTest::Owned<Parallel::Fd>(&destroyed));
    });
    EXPECT_EQ(destroyed, 2);
    delete new Parallel::FdReactor(nullptr);  // never started
}

// The real loop reading a loopback TCP connection.
class TcpReader : public Parallel::Fd {
  public:
    TcpReader(Parallel::FdReactor* r, int fd) : reactor_(r), fd_(fd) {
        Base::Socket::set_blocking(fd_, false);
    }
    std::atomic<long> received{0};
    std::atomic<int> wrong_thread{0};
    std::atomic<bool> closed{false};
    int get_id() const override { return fd_; }
    int read() override {
        if (!reactor_->is_current()) wrong_thread.fetch_add(1);
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd_, buffer, sizeof(buffer))) > 0) received.fetch_add(n);
        if (n == 0) {
            closed = true;
            reactor_->set_blocking(this, false);
            set_read_blocked(true);
            reactor_->set_blocking(this, false);
            return -1;
        }
        return 0;
    }

  private:
    Parallel::FdReactor* reactor_;
    int fd_;
};

TEST(FdReactor, LoopReadsALoopbackConnectionOnItsThread) {
    Base::TcpSocket listener;
    ASSERT_TRUE(listener.open());
    ASSERT_TRUE(listener.bind("127.0.0.1", 0));
    ASSERT_EQ(listener.listen(4), 0);
    int client = Base::tcp_connect("127.0.0.1", listener.get_local_port(), 1000);
    ASSERT_GT(client, 0);
    int served = listener.accept();
    ASSERT_GT(served, 0);

    Parallel::FdReactor* reactor = new Parallel::FdReactor(nullptr);
    ASSERT_TRUE(reactor->create(true, nullptr));
    TcpReader reader(reactor, served);
    reactor->add_fd(&reader);
    const int size = 1 << 20;
    std::vector<char> data(size, 'd');
    EXPECT_EQ(Base::tcp_send(client, data.data(), size, 2000, nullptr), size);
    close(client);
    for (int i = 0; i < 5000 && !reader.closed.load(); ++i) Base::Measure::sleep(1);
    EXPECT_TRUE(reader.closed.load());
    EXPECT_EQ(reader.received.load(), size);
    EXPECT_EQ(reader.wrong_thread.load(), 0);
    reactor->remove_fd(&reader);
    EXPECT_EQ(reactor->get_fd_count(), 1);
    reactor->stop();
    ASSERT_TRUE(reactor->join());
    delete reactor;
    close(served);
}

}  // namespace

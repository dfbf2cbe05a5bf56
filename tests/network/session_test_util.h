// Helpers shared by the session tests: a running reactor, calls run on its
// thread, a recording root session, and small loopback fronts.
#ifndef XELMD_TESTS_NETWORK_SESSION_TEST_UTIL_H
#define XELMD_TESTS_NETWORK_SESSION_TEST_UTIL_H

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/sign.h"
#include "network/client_session.h"
#include "parallel/fd_reactor.h"
#include "parallel/reporter.h"
#include "tests/parallel/lines_reporter.h"

namespace session_test {

using Clock = std::chrono::steady_clock;
using ReactorTest::Lines;

inline double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Polls pred every 5 ms for at most ms milliseconds; true once it holds.
inline bool wait_until(const std::function<bool()>& pred, int ms) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// An FdReactor started on its own thread, stopped and joined at the end.
class ReactorThread {
  public:
    ReactorThread() : reactor_(new Parallel::FdReactor(nullptr)) {
        reactor_->create(true, nullptr);
    }
    ~ReactorThread() {
        reactor_->stop();
        reactor_->join();
        delete reactor_;
    }
    Parallel::FdReactor* get() const { return reactor_; }

    // Runs f on the reactor thread and waits for it.
    void run(const std::function<void()>& f) {
        Call call(f);
        Base::Sign done(0);
        reactor_->add_event(1, nullptr, &done, &call, false);
        done.join();
    }

  private:
    struct Call : Parallel::Handler {
        explicit Call(const std::function<void()>& f) : f_(f) {}
        int on_event(int, void*) override {
            f_();
            return 0;
        }
        const std::function<void()>& f_;
    };
    Parallel::FdReactor* reactor_;
};

// The root of a session tree: counts what reaches it.
class Root : public Network::ClientSession {
  public:
    Root() : ClientSession(nullptr, nullptr, nullptr) {}
    void on_connected() override { ++connected; }
    void on_disconnected(int reason) override {
        last_reason = reason;
        ++disconnected;
    }
    void on_connect_failed(Network::ClientSession*) override { ++failed; }
    std::atomic<int> connected{0}, disconnected{0}, failed{0}, last_reason{0};
};

// A listening socket on 127.0.0.1, on the given port or (0) an ephemeral one.
inline int listen_socket(int* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<unsigned short>(*port));
    socklen_t length = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 || ::listen(fd, 64) != 0) {
        ::close(fd);
        return -1;
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    *port = ntohs(addr.sin_port);
    return fd;
}

// A loopback port on which nothing listens: connecting is refused at once.
inline int refused_port() {
    int port = 0;
    ::close(listen_socket(&port));
    return port;
}

// Descriptors open in this process.
inline int count_fds() {
    int n = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (readdir(dir) != nullptr) ++n;
    closedir(dir);
    return n;
}

// A front on its own thread: accepts connections, answers each with a
// fixed text (for name servers) and then, as told, closes it at once or
// keeps it open.
class RawFront {
  public:
    enum Mode { CLOSE, HOLD };

    explicit RawFront(Mode mode, const std::string& answer = std::string())
        : mode_(mode), answer_(answer) {
        fd_ = listen_socket(&port_);
        thread_ = std::thread([this] { loop(); });
    }
    ~RawFront() {
        stop_ = true;
        thread_.join();
        drop_all();
        ::close(fd_);
    }
    int port() const { return port_; }
    int accepted() const { return accepted_.load(); }
    int held() {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(held_.size());
    }
    // Closes every connection held; the peers see an orderly end (what
    // they sent is read first, so that no reset replaces it).
    void drop_all() {
        std::lock_guard<std::mutex> lock(mutex_);
        while (!held_.empty()) drop(0);
    }

  private:
    void loop() {
        while (!stop_) {
            pollfd p = {fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) == 1) accept_one();
        }
    }
    void accept_one() {
        int fd = ::accept(fd_, nullptr, nullptr);
        if (fd < 0) return;
        ++accepted_;
        if (!answer_.empty()) (void)!::send(fd, answer_.data(), answer_.size(), MSG_NOSIGNAL);
        if (mode_ == CLOSE) {
            ::close(fd);
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        held_.push_back(fd);
    }
    void drop(size_t i) {
        char sink[4096];
        while (::recv(held_[i], sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
        ::close(held_[i]);
        held_.erase(held_.begin() + static_cast<long>(i));
    }

    Mode mode_;
    std::string answer_;
    int port_ = 0;
    int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::mutex mutex_;
    std::vector<int> held_;
    std::thread thread_;
};

}  // namespace session_test

#endif  // XELMD_TESTS_NETWORK_SESSION_TEST_UTIL_H

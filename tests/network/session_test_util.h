// Helpers shared by the channel and session tests: a recording reporter, a
// running reactor that runs calls on its thread, and a loopback listener.
#ifndef XELMD_TESTS_NETWORK_SESSION_TEST_UTIL_H
#define XELMD_TESTS_NETWORK_SESSION_TEST_UTIL_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/sign.h"
#include "parallel/fd_reactor.h"
#include "parallel/reporter.h"

namespace session_test {

// Keeps every line a reporter is given as "level tag text"; any thread.
class Lines : public Parallel::Reporter {
  public:
    void report(int level, const char* tag, const char* format, ...) override {
        char text[256];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::to_string(level) + " " + tag + " " + text);
    }
    std::vector<std::string> get() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // Lines containing text, in order.
    std::vector<std::string> with(const std::string& text) {
        std::vector<std::string> out;
        for (const std::string& line : get()) {
            if (line.find(text) != std::string::npos) out.push_back(line);
        }
        return out;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

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

}  // namespace session_test

#endif  // XELMD_TESTS_NETWORK_SESSION_TEST_UTIL_H

// Sixteen fronts that go down, come back, accept and drop connections at
// random for about ten seconds, against one bond session.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "network/xelo_bond_client_session.h"
#include "network/xelo_client_channel.h"
#include "session_test_util.h"

namespace {

using Network::XeloBondClientSession;
using namespace session_test;

const int FRONTS = 16;

// All fronts on one thread. Counts the connections open at once from its
// side; a connection lives 0-1.5 s unless the client ends it first.
class Fronts {
  public:
    explicit Fronts(unsigned seed) : random_(seed) {
        for (int i = 0; i < FRONTS; ++i) {
            ports_[i] = 0;
            listeners_[i] = listen_socket(&ports_[i]);
        }
    }
    ~Fronts() {
        for (int fd : listeners_) {
            if (fd >= 0) ::close(fd);
        }
        for (const Connection& c : open_) ::close(c.fd);
    }
    int port(int i) const { return ports_[i]; }
    int max_open() const { return max_open_; }
    int accepted() const { return accepted_; }

    void run(double seconds) {
        Clock::time_point start = Clock::now();
        Clock::time_point last_toggle = start;
        while (seconds_since(start) < seconds) {
            if (seconds_since(last_toggle) > 0.1) {
                toggle();
                last_toggle = Clock::now();
            }
            serve();
        }
    }

  private:
    struct Connection {
        int fd;
        Clock::time_point end;
    };

    // Every 100 ms a front goes down with probability 1/5 and comes back
    // with 1/10, so that about two thirds are down and failovers are many.
    void toggle() {
        for (int i = 0; i < FRONTS; ++i) {
            if (random_() % (listeners_[i] >= 0 ? 5 : 10) != 0) continue;
            if (listeners_[i] >= 0) {
                ::close(listeners_[i]);
                listeners_[i] = -1;
            } else {
                listeners_[i] = listen_socket(&ports_[i]);
            }
        }
    }
    void serve() {
        std::vector<pollfd> fds;
        for (int fd : listeners_) {
            if (fd >= 0) fds.push_back({fd, POLLIN, 0});
        }
        size_t first_connection = fds.size();
        for (const Connection& c : open_) fds.push_back({c.fd, POLLIN, 0});
        ::poll(fds.data(), fds.size(), 10);
        for (size_t i = 0; i < first_connection; ++i) {
            if (fds[i].revents & POLLIN) accept_one(fds[i].fd);
        }
        for (size_t i = 0; i < open_.size();) {
            char sink[4096];
            bool ended = ::recv(open_[i].fd, sink, sizeof sink, MSG_DONTWAIT) == 0;
            if (ended || Clock::now() > open_[i].end) {
                while (::recv(open_[i].fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
                }
                ::close(open_[i].fd);
                open_.erase(open_.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
    }
    void accept_one(int listener) {
        int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) return;
        ++accepted_;
        int life_ms = static_cast<int>(random_() % 1500);
        open_.push_back({fd, Clock::now() + std::chrono::milliseconds(life_ms)});
        if (static_cast<int>(open_.size()) > max_open_) max_open_ = static_cast<int>(open_.size());
    }

    std::mt19937 random_;
    int ports_[FRONTS];
    int listeners_[FRONTS];
    std::vector<Connection> open_;
    int max_open_ = 0;
    int accepted_ = 0;
};

// Tracks how many connections the session tree holds at once.
class CountingRoot : public Root {
  public:
    void on_connected() override {
        int now_open = ++open;
        int seen = max_open.load();
        while (now_open > seen && !max_open.compare_exchange_weak(seen, now_open)) {
        }
        Root::on_connected();
    }
    void on_disconnected(int reason) override {
        if (reason != 0) --open;
        Root::on_disconnected(reason);
    }
    std::atomic<int> open{0};
    std::atomic<int> max_open{0};
};

TEST(BondSoak, RandomFrontsNeverGiveTwoConnectionsLeaksOrAStorm) {
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    const int fds_before = count_fds();
    double elapsed = 0;
    int attempts = 0, connects = 0, front_max = 0, front_accepted = 0;
    {
        ReactorThread reactor;
        CountingRoot root;
        Lines lines;
        Fronts fronts(seed);
        XeloBondClientSession bond(reactor.get(), &root, &lines, 1);
        reactor.run([&] {
            for (int i = 0; i < FRONTS; ++i) bond.open("127.0.0.1", fronts.port(i));
        });
        Clock::time_point start = Clock::now();
        fronts.run(10.0);
        elapsed = seconds_since(start);
        reactor.run([&] { bond.close(0); });
        connects = static_cast<int>(lines.with("connect ok!").size());
        attempts = connects + static_cast<int>(lines.with("connect error!").size());
        front_max = fronts.max_open();
        front_accepted = fronts.accepted();
        EXPECT_LE(root.max_open.load(), 1);
    }
    printf("soak: %d attempts, %d connections, %d accepted by fronts in %.1f s\n", attempts,
           connects, front_accepted, elapsed);
    EXPECT_LE(front_max, 1);
    // Every front gets its first attempt at once; after that each attempt
    // waits the 1.5 s interval.
    EXPECT_LE(attempts, FRONTS + static_cast<int>(std::ceil(elapsed / 1.5)) + 1)
        << attempts << " attempts in " << elapsed << " s";
    EXPECT_GE(connects, 2);
    EXPECT_EQ(fds_before, count_fds());
}

}  // namespace

// Client sessions against servers and raw fronts, each side on its own
// reactor: connecting and retrying, idle closes, heartbeat timeouts, what a
// server session does with the connections it accepts, and the bond's
// failover.
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "base/socket.h"
#include "network/xelo_bond_client_session.h"
#include "network/xelo_bond_server_session.h"
#include "network/xelo_client_channel.h"
#include "network/xelo_client_session.h"
#include "network/xelo_flow.h"
#include "network/xelo_server_channel.h"
#include "network/xelo_server_session.h"
#include "session_test_util.h"
#include "tests/test_table.h"

namespace {

using Network::ClientSession;
using Network::XeloBondClientSession;
using Network::XeloClientSession;
using Network::XeloFlow;
using Network::XeloServerSession;
using namespace session_test;
using Clock = std::chrono::steady_clock;

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

// The root of a session tree: counts what reaches it.
class Root : public Network::ClientSession {
  public:
    Root() : ClientSession(nullptr, nullptr, nullptr) {}
    void on_connected() override { ++connected; }
    void on_disconnected(int) override { ++disconnected; }
    void on_connect_failed(Network::ClientSession*) override { ++failed; }
    std::atomic<int> connected{0}, disconnected{0}, failed{0};
};

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

// A name server on its own thread: answers every connection with a fixed
// text (nothing, for a silent one) and closes it.
class NameServer {
  public:
    explicit NameServer(const std::string& answer = std::string()) : answer_(answer) {
        fd_ = listen_socket(&port_);
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p = {fd_, POLLIN, 0};
                int fd = ::poll(&p, 1, 20) == 1 ? ::accept(fd_, nullptr, nullptr) : -1;
                if (fd < 0) continue;
                ++accepted_;
                (void)!::send(fd, answer_.data(), answer_.size(), MSG_NOSIGNAL);
                ::close(fd);
            }
        });
    }
    ~NameServer() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    int port() const { return port_; }
    int accepted() const { return accepted_.load(); }

  private:
    std::string answer_;
    int port_ = 0;
    int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

const unsigned long SECOND = XeloClientSession::TICKS_PER_SECOND;

TEST(XeloClientSessionRules, IdleReconnectAndClampsAtChosenValues) {
    const char* table = "network/heartbeat_rules.data";
    const unsigned long last = 1000 * SECOND, limit = 120 * SECOND;
    for (const TestTable::Row& c : TestTable::read(table, "idle")) {
        SCOPED_TRACE(TestTable::where(table, c));
        const unsigned long now = last + std::stol(c[2]);
        EXPECT_EQ(c[3] == "1", XeloClientSession::is_idle(now, last, limit));
        EXPECT_EQ(c[4] == "1",
                  XeloClientSession::should_reconnect(std::stoi(c[1]), now, last, limit));
    }
    for (const TestTable::Row& c : TestTable::read(table, "clamp")) {
        SCOPED_TRACE(TestTable::where(table, c));
        EXPECT_EQ(std::stoul(c[2]), XeloClientSession::clamp_timeout(std::stoi(c[1])));
        EXPECT_EQ(std::stoul(c[3]), XeloClientSession::clamp_heartbeat_timeout(std::stoi(c[1])));
    }
}

// A flow of 1 MiB blocks holding n packets of one 8-byte field each.
std::unique_ptr<XeloFlow> make_flow(unsigned short subject, int n = 0) {
    std::unique_ptr<XeloFlow> flow(
        new XeloFlow(subject, 1 << 20, 1 << 20, nullptr, nullptr, 0, nullptr, false, false));
    XeloFlow::Writer writer(flow.get(), false);
    for (int i = 0; i < n; ++i) {
        memcpy(writer.alloc_packet(0x100, 0)->add_field(0x1001, 8), "abcdefgh", 8);
        writer.commit_packet(true);
    }
    return flow;
}

class SessionTest : public ::testing::Test {
  protected:
    void TearDown() override {
        clients_.clear();
        server_.reset();
    }
    // Roots live until every client is gone.
    Root* make_root() {
        roots_.emplace_back(new Root);
        return roots_.back().get();
    }
    XeloClientSession* make_client(Root* root, Parallel::Reporter* reporter = nullptr) {
        clients_.emplace_back(new XeloClientSession(client_.get(), root, reporter, nullptr, 1));
        return clients_.back().get();
    }
    XeloServerSession* make_server(Network::ServerSession* parent = nullptr) {
        server_.reset(new XeloServerSession(server_reactor_.get(), parent, &lines_, 1));
        return server_.get();
    }
    // The server side of the first connection server accepted, or null.
    XeloClientSession* accepted(XeloServerSession* server) {
        XeloClientSession* session = nullptr;
        server_reactor_.run([&] {
            Base::List::Node* node = server->get_clients().get_first();
            if (node != nullptr) session = static_cast<XeloClientSession*>(node->data);
        });
        return session;
    }
    int client_count() {
        int n = 0;
        server_reactor_.run([&] { n = server_->get_client_count(); });
        return n;
    }

    ReactorThread server_reactor_;
    ReactorThread client_;
    Root root_;
    Lines lines_;
    std::unique_ptr<XeloServerSession> server_;
    std::vector<std::unique_ptr<Root>> roots_;
    std::vector<std::unique_ptr<XeloClientSession>> clients_;
};
using ClientSessionTest = SessionTest;
using ServerTest = SessionTest;

TEST_F(ClientSessionTest, PeerIntervalIsAdoptedOwnTimeoutsClampedAndReadBlockingPassedOn) {
    ASSERT_TRUE(make_server()->open("127.0.0.1", 0));
    XeloClientSession* session = make_client(&root_);
    client_.run([&] { session->open("127.0.0.1", server_->get_port()); });
    ASSERT_TRUE(wait_until([&] { return accepted(server_.get()) != nullptr; }, 5000));
    XeloClientSession* peer = accepted(server_.get());
    // The peer announces 16 s (an interval of 5 s): ours becomes 16, with
    // an idle limit three seconds longer.
    server_reactor_.run([&] { peer->set_heartbeat_timeout(16); });
    unsigned long limit = 0;
    EXPECT_TRUE(wait_until(
        [&] {
            client_.run([&] {
                if (session->get_channel()->get_heartbeat_timeout() == 16)
                    limit = session->get_idle_limit();
            });
            return limit == 19 * SECOND;
        },
        5000));
    // What we announce reaches the peer clamped.
    unsigned int cases[][2] = {{1, 4}, {300, 181}};
    for (auto& c : cases) {
        client_.run([&] {
            session->set_heartbeat_timeout(c[0]);
            EXPECT_EQ(c[1] * SECOND, session->get_idle_limit());
        });
        unsigned int seen = 0;
        EXPECT_TRUE(wait_until(
            [&] {
                server_reactor_.run([&] { seen = peer->get_channel()->get_heartbeat_timeout(); });
                return seen == c[1];
            },
            3000))
            << c[0] << " " << seen;
    }
    // An idle limit set directly is clamped too; read blocking is passed on
    // to the channel.
    client_.run([&] {
        session->set_timeout(2);
        EXPECT_EQ(4 * SECOND, session->get_idle_limit());
        session->set_read_blocking(true);
        EXPECT_TRUE(session->is_read_blocking() && session->get_channel()->is_read_blocked());
        session->set_read_blocking(false);
        EXPECT_FALSE(session->is_read_blocking());
    });
}

// Two connections read the published flows each with its own reader; the
// first publishes to the server's subscription; the second subscribes with
// a limit, which starts its buffer check (nothing recycles the flows).
TEST_F(ServerTest, AcceptedClientsGetEveryPublicationWithItsOwnReaderAndTheSubscription) {
    std::unique_ptr<XeloFlow> p1 = make_flow(0x21, 40), p2 = make_flow(0x22, 7),
                              s = make_flow(0x31);
    make_server();
    server_->publish(p1.get());
    server_->publish(p2.get());
    server_->subscribe(s.get());
    ASSERT_TRUE(server_->open("127.0.0.1", 0));
    std::unique_ptr<XeloFlow> in[2][2] = {{make_flow(0x21), make_flow(0x22)},
                                          {make_flow(0x21), make_flow(0x22)}};
    std::unique_ptr<XeloFlow> out = make_flow(0x31, 3);
    Lines reporters[2];
    for (int c = 0; c < 2; ++c) {
        XeloClientSession* client = make_client(&root_, &reporters[c]);
        client_.run([&] {
            client->subscribe(in[c][0].get(), nullptr, c == 0 ? 0 : 10, false);
            client->subscribe(in[c][1].get(), nullptr, 0, false);
            if (c == 0) client->publish(out.get(), 0, nullptr, nullptr, nullptr);
            client->open("127.0.0.1", server_->get_port());
        });
        ASSERT_TRUE(wait_until([&] { return client_count() == c + 1; }, 5000));
    }
    EXPECT_TRUE(wait_until(
        [&] {
            return in[0][0]->get_count() == 40 && in[0][1]->get_count() == 7 &&
                   in[1][1]->get_count() == 7 && s->get_count() == 3;
        },
        3000));
    EXPECT_TRUE(
        wait_until([&] { return !reporters[1].with("buffer blocking -> ON!").empty(); }, 4000));
    EXPECT_TRUE(reporters[0].with("buffer blocking").empty());
    // Subscribed as a listener subscribes: no filter, no limit, sequence checked.
    XeloClientSession* first = accepted(server_.get());
    server_reactor_.run([&] {
        auto* sub = first->get_channel()->get_sub_item(0x31);
        ASSERT_NE(nullptr, sub);
        EXPECT_TRUE(sub->flow == s.get() && !sub->filter && !sub->limit && !sub->no_sequence_check);
    });
    EXPECT_EQ(0, root_.disconnected);
    clients_.clear();  // before their reporters and flows
    server_.reset();
}

// A parent that records what reaches it, and the client count then.
class Parent : public Network::ServerSession {
  public:
    Parent() : ServerSession(nullptr, nullptr, nullptr) {}
    void on_client_created(ClientSession* client) override {
        created.push_back(client);
        clients_at_creation = server->get_client_count();
    }
    void on_client_destroy(ClientSession* client) override {
        destroyed.push_back(client);
        clients_at_destroy = server->get_client_count();
    }
    XeloServerSession* server = nullptr;
    std::vector<ClientSession*> created, destroyed;
    int clients_at_creation = -1, clients_at_destroy = -1;
};

TEST_F(ServerTest, HandedDescriptorBecomesAClientTheParentHearsOfFirst) {
    Parent parent;
    parent.server = make_server(&parent);
    // A connection accepted elsewhere and handed over (event 1011).
    int port = 0;
    int listener = listen_socket(&port);
    int peer = Base::tcp_connect("127.0.0.1", port, 0);
    server_->on_accepted(::accept(listener, nullptr, nullptr));
    ::close(listener);
    ASSERT_TRUE(wait_until([&] { return client_count() == 1; }, 5000));
    ::close(peer);  // its end comes back through event 1012
    ASSERT_TRUE(wait_until([&] { return client_count() == 0; }, 5000));
    server_reactor_.run([&] {
        ASSERT_EQ(1u, parent.created.size());
        EXPECT_EQ(parent.created, parent.destroyed);
        EXPECT_EQ(1, parent.clients_at_creation);  // listed before the parent hears
        EXPECT_EQ(1, parent.clients_at_destroy);   // told before removal
    });
    server_.reset();
}

TEST_F(ServerTest, FailedBindReportsAndLeavesTheSessionClosed) {
    ASSERT_TRUE(make_server()->open("127.0.0.1", 0));
    int port = server_->get_port();
    XeloServerSession second(server_reactor_.get(), nullptr, &lines_, 1);
    EXPECT_FALSE(second.open("127.0.0.1", port));
    EXPECT_EQ(0, second.get_channel()->get_id());
    server_->close(3);
    // Each line ends with the session's address.
    std::vector<std::string> lines = lines_.get();
    for (std::string& line : lines) line.resize(line.rfind(" ["));
    EXPECT_EQ(lines, (std::vector<std::string>{"5 XeloServerSession open success! [127.0.0.1] [0]",
                                               "4 XeloServerSession open failed! [127.0.0.1] [" +
                                                   std::to_string(port) + "]",
                                               "5 XeloServerSession close! [3]"}));
    EXPECT_EQ(0, server_->get_channel()->get_id());
}

TEST_F(ServerTest, BondServerRefusesA257thListener) {
    int before = count_fds();
    {
        Network::XeloBondServerSession bond(server_reactor_.get(), nullptr, nullptr, 1);
        int busy_port = 0;
        int busy = listen_socket(&busy_port);
        EXPECT_FALSE(bond.open("127.0.0.1", busy_port));  // a failed open keeps no place
        ::close(busy);
        for (int i = 0; i < Network::XeloBondServerSession::MAX_LISTENERS; ++i)
            ASSERT_TRUE(bond.open("127.0.0.1", 0)) << i;
        EXPECT_FALSE(bond.open("127.0.0.1", 0));
        EXPECT_EQ(256, bond.get_listener_count());
        // The last listener accepts like any other.
        XeloClientSession* client = make_client(&root_);
        client_.run([&] { client->open("127.0.0.1", bond.get_listener(255)->get_port()); });
        EXPECT_TRUE(wait_until([&] { return root_.connected == 1; }, 5000));
        clients_.clear();
    }
    EXPECT_EQ(before, count_fds());
}

TEST_F(ServerTest, DestroyedWithClientsConnectedAndOthersLeaving) {
    int before = count_fds();
    ASSERT_TRUE(make_server()->open("127.0.0.1", 0));
    const int staying = 20, leaving = 6;
    for (int i = 0; i < staying + leaving; ++i) {
        XeloClientSession* client = make_client(&root_);
        client_.run([&] { client->open("127.0.0.1", server_->get_port()); });
    }
    ASSERT_TRUE(wait_until([&] { return client_count() == staying + leaving; }, 10000));
    // The first two leave before (from the middle of the server's list), the
    // others while the server is destroyed.
    auto leave = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            XeloClientSession* client = clients_[i].get();
            client_.run([&] { client->close(0); });
        }
    };
    leave(staying, staying + 2);
    ASSERT_TRUE(wait_until([&] { return client_count() == staying + leaving - 2; }, 5000));
    std::thread others(leave, staying + 2, staying + leaving);
    server_.reset();  // returns once every client is gone
    others.join();
    // Every client that stayed sees its connection end.
    EXPECT_TRUE(wait_until([&] { return root_.disconnected == staying + leaving; }, 5000))
        << root_.disconnected;
    clients_.clear();
    EXPECT_TRUE(wait_until([&] { return count_fds() == before; }, 3000)) << count_fds();
}

// ---- the bond: failing over between fronts and name servers ----

const char TAG[] = "XeloBondClientSession";

// A line of the bond's: connecting at level 2, name servers at 5.
std::string line(const char* text, int port) {
    return std::string(strstr(text, "fens") ? "5 " : "2 ") + TAG + " " + text + " [127.0.0.1] [" +
           std::to_string(port) + "]";
}
std::string uri(int port) {
    return "tcp://127.0.0.1:" + std::to_string(port);
}

// A bond session on the client reactor, reporting to lines_.
class BondTest : public SessionTest {
  protected:
    void TearDown() override { bond_.reset(); }
    bool connected_to(int index) {
        bool yes = false;
        client_.run([&] {
            Network::XeloClientChannel* channel = bond_->get_channel();
            yes = bond_->get_current_index() == index && channel != nullptr && channel->is_valid();
        });
        return yes;
    }
    // Waits for the bond's first lines and compares them.
    void expect_lines(const std::vector<std::string>& want, int ms) {
        EXPECT_TRUE(wait_until([&] { return lines_.with(TAG).size() >= want.size(); }, ms));
        std::vector<std::string> got = lines_.with(TAG);
        got.resize(std::min(got.size(), want.size()));
        EXPECT_EQ(want, got);
    }

    std::unique_ptr<XeloBondClientSession> bond_{
        new XeloBondClientSession(client_.get(), &root_, &lines_, 1)};
};

TEST_F(BondTest, TwoRefusingFrontsWrapAroundToTheFirst) {
    int first = refused_port(), second = refused_port();
    Clock::time_point start = Clock::now();
    client_.run([&] {
        bond_->open("127.0.0.1", first);
        bond_->open("127.0.0.1", second);
    });
    // The first open tries at once.
    EXPECT_TRUE(wait_until([&] { return !lines_.with("connect failed").empty(); }, 1200));
    expect_lines(
        {line("connect failed", first), line("try connect", second), line("connect failed", second),
         line("try connect", first), line("connect failed", first)},
        6000);
    // The first front's second attempt waited its interval: no storm.
    EXPECT_GE(seconds_since(start), 1.4);
    EXPECT_EQ(0, root_.connected);
    EXPECT_GE(root_.failed, 3);  // the parent heard of each failure
}

TEST_F(BondTest, FailedLearnedFrontsAreForgottenAndTheNameServerAskedAgain) {
    int a = refused_port(), b = refused_port();
    NameServer server(uri(a) + "\r\n" + uri(b) + "\r\n");
    Clock::time_point start = Clock::now();
    client_.run([&] { bond_->register_fens("127.0.0.1", server.port()); });
    expect_lines({line("try fens", server.port()), line("get address from fens", a),
                  line("get address from fens", b), line("connect failed", a),
                  line("try connect", b), line("connect failed", b),
                  line("try fens", server.port()), line("get address from fens", a)},
                 6000);
    EXPECT_EQ(2, server.accepted());
    EXPECT_GE(seconds_since(start), 0.9);
    // Learned again from scratch: the same two fronts, not four.
    client_.run([&] { EXPECT_LE(bond_->get_front_count(), 2); });
}

// A silent name server, then an unreachable one, then one answering with
// lines of which only those with a positive port name fronts: the first
// front learned is connected, the second never tried.
TEST_F(BondTest, NameServersAreAskedInTurnAndEveryAnsweredFrontRegistered) {
    ASSERT_TRUE(make_server()->open("127.0.0.1", 0));
    const int first = server_->get_port(), second = refused_port();
    NameServer silent, good("garbage\r\n" + uri(first) +
                            "/md\r\ntcp://127.0.0.1\ntcp://127.0.0.1:0\r"
                            "tcp:/127.0.0.1:80\r" +
                            uri(second));
    int unreachable = refused_port();
    client_.run([&] {
        for (int port : {silent.port(), unreachable, good.port()})
            EXPECT_TRUE(bond_->register_fens("127.0.0.1", port));
    });
    ASSERT_TRUE(wait_until([&] { return root_.connected == 1; }, 8000));
    EXPECT_TRUE(connected_to(0));
    expect_lines({line("try fens", silent.port()), line("try fens", unreachable),
                  line("try fens", good.port()), line("get address from fens", first),
                  line("get address from fens", second)},
                 0);
    EXPECT_EQ(2, root_.failed);  // each name server given up reached the parent
    client_.run([&] { EXPECT_EQ(2, bond_->get_front_count()); });
    EXPECT_EQ(1, client_count());
    EXPECT_TRUE(lines_.with("connect failed").empty());
}

TEST_F(BondTest, RegistrationTablesHold256Entries) {
    int port = refused_port();
    client_.run([&] {
        for (int i = 0; i < XeloBondClientSession::MAX_FRONTS; ++i)
            ASSERT_TRUE(bond_->open("127.0.0.1", port));
        EXPECT_FALSE(bond_->open("127.0.0.1", port));
        for (int i = 0; i < XeloBondClientSession::MAX_FENS; ++i)
            ASSERT_TRUE(bond_->register_fens("127.0.0.1", port));
        EXPECT_FALSE(bond_->register_fens("127.0.0.1", port));
        EXPECT_FALSE(bond_->register_fens("127.0.0.1", 0));
        EXPECT_EQ(0, bond_->get_current_index());
    });
    // Every front is tried, and the name servers are asked again.
    EXPECT_TRUE(wait_until(
        [&] {
            return lines_.with("connect failed").size() >= 256 &&
                   lines_.with("try fens").size() >= 2;
        },
        5000));
}

}  // namespace

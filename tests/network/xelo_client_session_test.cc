#include "network/xelo_client_session.h"

#include <gtest/gtest.h>

#include <memory>

#include "network/xelo_client_channel.h"
#include "network/xelo_server_session.h"
#include "session_test_util.h"

namespace {

using Network::XeloClientSession;
using Network::XeloServerSession;
using namespace session_test;

const unsigned long SECOND = XeloClientSession::TICKS_PER_SECOND;

TEST(XeloClientSessionRules, IdleReconnectAndClampsAtChosenValues) {
    const unsigned long last = 1000 * SECOND, limit = 120 * SECOND;
    struct Case {
        int reason;
        unsigned long now;
        bool idle, reconnect;
    } cases[] = {
        {-11, last + limit - 1, false, true},   // dropped while traffic was recent: retry
        {-11, last + limit, true, false},       // silent for the limit: given up
        {-14, last + 1, false, false},          // closed for idleness: always given up
        {-12, last - 5 * SECOND, false, true},  // a receive stamped after now is no silence
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.idle, XeloClientSession::is_idle(c.now, last, limit)) << c.reason;
        EXPECT_EQ(c.reconnect, XeloClientSession::should_reconnect(c.reason, c.now, last, limit))
            << c.reason;
    }
    unsigned int clamps[][3] = {{2, 4, 4}, {60, 60, 60}, {182, 182, 181}, {500, 184, 181}};
    for (auto& c : clamps) {
        EXPECT_EQ(c[1], XeloClientSession::clamp_timeout(c[0])) << c[0];
        EXPECT_EQ(c[2], XeloClientSession::clamp_heartbeat_timeout(c[0])) << c[0];
    }
}

// Client sessions on one reactor, their peers (a server session or raw
// fronts) on others.
class ClientSessionTest : public ::testing::Test {
  protected:
    // Roots live until every client is gone.
    Root* make_root() {
        roots_.emplace_back(new Root);
        return roots_.back().get();
    }
    XeloClientSession* make_client(Root* root) {
        clients_.emplace_back(new XeloClientSession(client_.get(), root, nullptr, nullptr, 1));
        return clients_.back().get();
    }
    void TearDown() override { clients_.clear(); }
    // The server side of the first connection server accepted, or null.
    XeloClientSession* accepted(XeloServerSession* server) {
        XeloClientSession* session = nullptr;
        server_reactor_.run([&] {
            Base::List::Node* node = server->get_clients().get_first();
            if (node != nullptr) session = static_cast<XeloClientSession*>(node->data);
        });
        return session;
    }

    ReactorThread server_reactor_;
    ReactorThread client_;
    std::vector<std::unique_ptr<Root>> roots_;
    std::vector<std::unique_ptr<XeloClientSession>> clients_;
};

TEST_F(ClientSessionTest, FirstOpenConnectsAtOnceALaterOneAfterTheInterval) {
    XeloServerSession first(server_reactor_.get(), nullptr, nullptr, 1);
    XeloServerSession second(server_reactor_.get(), nullptr, nullptr, 1);
    ASSERT_TRUE(first.open("127.0.0.1", 0));
    ASSERT_TRUE(second.open("127.0.0.1", 0));
    Root& root = *make_root();
    XeloClientSession* session = make_client(&root);

    Clock::time_point start = Clock::now();
    client_.run([&] { EXPECT_TRUE(session->open("127.0.0.1", first.get_port())); });
    ASSERT_TRUE(wait_until([&] { return root.connected == 1; }, 5000));
    EXPECT_LT(seconds_since(start), 1.2);

    client_.run([&] {
        session->close(0);
        start = Clock::now();
        session->open("127.0.0.1", second.get_port());
    });
    ASSERT_TRUE(wait_until([&] { return root.connected == 2; }, 6000));
    EXPECT_GE(seconds_since(start), 1.4);
    EXPECT_TRUE(wait_until([&] { return accepted(&second) != nullptr; }, 2000));
    EXPECT_EQ(0, root.failed);
}

TEST_F(ClientSessionTest, FrontDroppingARecentConnectionIsRetriedAtTheSameAddress) {
    RawFront front(RawFront::HOLD);
    Root& root = *make_root();
    XeloClientSession* session = make_client(&root);
    client_.run([&] { session->open("127.0.0.1", front.port()); });
    ASSERT_TRUE(wait_until([&] { return root.connected == 1 && front.held() == 1; }, 5000));

    Clock::time_point dropped = Clock::now();
    front.drop_all();
    ASSERT_TRUE(wait_until([&] { return root.connected == 2; }, 6000));
    EXPECT_GE(seconds_since(dropped), 1.4);
    EXPECT_EQ(1, root.disconnected);
    EXPECT_EQ(-11, root.last_reason);
    EXPECT_EQ(0, root.failed);
    EXPECT_TRUE(wait_until([&] { return front.accepted() == 2; }, 2000));
}

TEST_F(ClientSessionTest, SilentFrontIsClosedForIdlenessAndGivenUp) {
    RawFront front(RawFront::HOLD);
    Root& root = *make_root();
    XeloClientSession* session = make_client(&root);
    Clock::time_point start = Clock::now();
    client_.run([&] {
        session->set_timeout(2);  // clamped to 4 s
        session->open("127.0.0.1", front.port());
    });
    ASSERT_TRUE(wait_until([&] { return root.failed == 1; }, 10000));
    EXPECT_GE(seconds_since(start), 3.9);
    EXPECT_EQ(1, root.disconnected);
    EXPECT_EQ(-14, root.last_reason);
    // Given up: the parent decides, the session does not come back by itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(1800));
    EXPECT_EQ(1, front.accepted());
    EXPECT_EQ(1, root.connected);
}

TEST_F(ClientSessionTest, BlockedReadingIsNotReadBeforeTheIdleClose) {
    RawFront front(RawFront::CHATTY);
    Root& blocked_root = *make_root();
    Root& reading_root = *make_root();
    XeloClientSession* blocked = make_client(&blocked_root);
    XeloClientSession* reading = make_client(&reading_root);
    client_.run([&] {
        blocked->set_timeout(4);
        reading->set_timeout(4);
        blocked->open("127.0.0.1", front.port());
        reading->open("127.0.0.1", front.port());
    });
    ASSERT_TRUE(
        wait_until([&] { return blocked_root.connected + reading_root.connected == 2; }, 5000));
    Clock::time_point start = Clock::now();
    client_.run([&] { blocked->set_read_blocking(true); });
    ASSERT_TRUE(wait_until([&] { return blocked_root.disconnected == 1; }, 10000));
    EXPECT_EQ(-14, blocked_root.last_reason);
    EXPECT_GE(seconds_since(start), 3.9);
    // The peer talked all along: the session that reads stays.
    EXPECT_EQ(0, reading_root.disconnected);
}

TEST_F(ClientSessionTest, PeerIntervalIsAdoptedAndOwnTimeoutAnnouncedClamped) {
    XeloServerSession server(server_reactor_.get(), nullptr, nullptr, 1);
    ASSERT_TRUE(server.open("127.0.0.1", 0));
    XeloClientSession* session = make_client(make_root());
    client_.run([&] { session->open("127.0.0.1", server.get_port()); });
    ASSERT_TRUE(wait_until([&] { return accepted(&server) != nullptr; }, 5000));
    XeloClientSession* peer = accepted(&server);
    // The peer announces 16 s (an interval of 5 s): ours becomes 16, with
    // an idle limit three seconds longer.
    server_reactor_.run([&] { peer->set_heartbeat_timeout(16); });
    unsigned long limit = 0;
    EXPECT_TRUE(wait_until(
        [&] {
            client_.run([&] {
                if (session->get_channel()->get_heartbeat_timeout() == 16) {
                    limit = session->get_idle_limit();
                }
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
}

}  // namespace

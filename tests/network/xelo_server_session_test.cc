#include "network/xelo_server_session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "base/socket.h"
#include "network/xelo_bond_server_session.h"
#include "network/xelo_client_channel.h"
#include "network/xelo_client_session.h"
#include "network/xelo_flow.h"
#include "network/xelo_server_channel.h"
#include "session_test_util.h"

namespace {

using Network::ClientSession;
using Network::XeloBondServerSession;
using Network::XeloClientSession;
using Network::XeloFlow;
using Network::XeloServerSession;
using namespace session_test;

const unsigned int MIB = 1048576;

std::unique_ptr<XeloFlow> make_flow(unsigned short subject) {
    return std::unique_ptr<XeloFlow>(
        new XeloFlow(subject, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false));
}

// Appends n packets of one 8-byte field each.
void fill(XeloFlow* flow, int n) {
    XeloFlow::Writer writer(flow, false);
    for (int i = 0; i < n; ++i) {
        Network::XeloPacket* packet = writer.alloc_packet(0x100, 0);
        memcpy(packet->add_field(0x1001, 8), "abcdefgh", 8);
        writer.commit_packet(true);
    }
}

std::string pointer_text(const void* p) {
    char text[32];
    snprintf(text, sizeof text, "%p", p);
    return text;
}

class ServerTest : public ::testing::Test {
  protected:
    void TearDown() override {
        clients_.clear();
        server_.reset();
    }
    XeloClientSession* make_client(Parallel::Reporter* reporter = nullptr) {
        clients_.emplace_back(new XeloClientSession(client_.get(), &root_, reporter, nullptr, 1));
        return clients_.back().get();
    }
    // Runs f on the server's reactor with the first accepted client's channel.
    void with_accepted(const std::function<void(Network::XeloClientChannel*)>& f) {
        server_reactor_.run([&] {
            Base::List::Node* node = server_->get_clients().get_first();
            ASSERT_NE(nullptr, node);
            f(static_cast<ClientSession*>(node->data)->get_channel());
        });
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
    std::vector<std::unique_ptr<XeloClientSession>> clients_;
};

TEST_F(ServerTest, AcceptedClientsGetEveryPublicationWithItsOwnReaderAndTheSubscription) {
    std::unique_ptr<XeloFlow> p1 = make_flow(0x21), p2 = make_flow(0x22), s = make_flow(0x31);
    fill(p1.get(), 5);
    fill(p2.get(), 7);
    server_.reset(new XeloServerSession(server_reactor_.get(), nullptr, nullptr, 1));
    server_->publish(p1.get());
    server_->publish(p2.get());
    server_->subscribe(s.get());
    ASSERT_TRUE(server_->open("127.0.0.1", 0));

    // Two clients take both flows; the first also sends three packets.
    std::unique_ptr<XeloFlow> in[2][2] = {{make_flow(0x21), make_flow(0x22)},
                                          {make_flow(0x21), make_flow(0x22)}};
    std::unique_ptr<XeloFlow> out = make_flow(0x31);
    fill(out.get(), 3);
    for (int c = 0; c < 2; ++c) {
        XeloClientSession* client = make_client();
        client_.run([&] {
            client->subscribe(in[c][0].get(), nullptr, 0, false);
            client->subscribe(in[c][1].get(), nullptr, 0, false);
            if (c == 0) client->publish(out.get(), 0, nullptr, nullptr, nullptr);
            client->open("127.0.0.1", server_->get_port());
        });
        ASSERT_TRUE(wait_until([&] { return client_count() == c + 1; }, 5000));
    }
    // Each connection read the flows by itself: both got everything.
    for (int c = 0; c < 2; ++c) {
        EXPECT_TRUE(wait_until([&] { return in[c][0]->get_count() == 5; }, 3000)) << c;
        EXPECT_TRUE(wait_until([&] { return in[c][1]->get_count() == 7; }, 3000)) << c;
    }
    EXPECT_TRUE(wait_until([&] { return s->get_count() == 3; }, 3000));

    // Subscribed as a listener subscribes: no filter, no limit, sequence checked.
    with_accepted([&](Network::XeloClientChannel* channel) {
        auto* sub = channel->get_sub_item(0x31);
        ASSERT_NE(nullptr, sub);
        EXPECT_EQ(s.get(), sub->flow);
        EXPECT_TRUE(sub->filter == nullptr && sub->limit == 0 && !sub->no_sequence_check);
    });
    EXPECT_EQ(0, root_.disconnected);
    clients_.clear();
    server_.reset();
}

TEST_F(ServerTest, SubscribingWithALimitStartsTheBufferCheck) {
    std::unique_ptr<XeloFlow> published = make_flow(0x21);
    fill(published.get(), 40);
    server_.reset(new XeloServerSession(server_reactor_.get(), nullptr, nullptr, 1));
    server_->publish(published.get());
    ASSERT_TRUE(server_->open("127.0.0.1", 0));
    // Nothing recycles the received flows: 40 objects stay buffered.
    std::unique_ptr<XeloFlow> limited = make_flow(0x21), unlimited = make_flow(0x21);
    Lines limited_lines, unlimited_lines;
    XeloClientSession* a = make_client(&limited_lines);
    XeloClientSession* b = make_client(&unlimited_lines);
    client_.run([&] {
        a->subscribe(limited.get(), nullptr, 10, false);
        b->subscribe(unlimited.get(), nullptr, 0, false);
        a->open("127.0.0.1", server_->get_port());
        b->open("127.0.0.1", server_->get_port());
    });
    EXPECT_TRUE(
        wait_until([&] { return !limited_lines.with("buffer blocking -> ON!").empty(); }, 4000));
    EXPECT_TRUE(wait_until([&] { return unlimited->get_count() == 40; }, 3000));
    EXPECT_TRUE(unlimited_lines.with("buffer blocking").empty());
    clients_.clear();  // before their reporters and flows
    server_.reset();
}

// A parent that records what reaches it and when.
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
    int clients_at_creation = -1;
    int clients_at_destroy = -1;
};

TEST_F(ServerTest, HandedDescriptorBecomesAClientTheParentHearsOfFirst) {
    Parent parent;
    server_.reset(new XeloServerSession(server_reactor_.get(), &parent, nullptr, 1));
    parent.server = server_.get();
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
        EXPECT_EQ(1, parent.clients_at_creation);  // listed before the parent hears
        ASSERT_EQ(1u, parent.destroyed.size());
        EXPECT_EQ(parent.created[0], parent.destroyed[0]);
        EXPECT_EQ(1, parent.clients_at_destroy);  // told before removal
    });
}

TEST_F(ServerTest, FailedBindReportsAndLeavesTheSessionClosed) {
    server_.reset(new XeloServerSession(server_reactor_.get(), nullptr, &lines_, 1));
    ASSERT_TRUE(server_->open("127.0.0.1", 0));
    int port = server_->get_port();
    XeloServerSession second(server_reactor_.get(), nullptr, &lines_, 1);
    EXPECT_FALSE(second.open("127.0.0.1", port));
    EXPECT_EQ(0, second.get_channel()->get_id());
    server_->close(3);
    std::string p = std::to_string(port);
    std::vector<std::string> expected = {
        "5 XeloServerSession open success! [127.0.0.1] [0] [" + pointer_text(server_.get()) + "]",
        "4 XeloServerSession open failed! [127.0.0.1] [" + p + "] [" + pointer_text(&second) + "]",
        "5 XeloServerSession close! [3] [" + pointer_text(server_.get()) + "]"};
    EXPECT_EQ(expected, lines_.get());
    EXPECT_EQ(0, server_->get_channel()->get_id());
}

TEST_F(ServerTest, BondServerRefusesA257thListener) {
    int before = count_fds();
    {
        XeloBondServerSession bond(server_reactor_.get(), nullptr, nullptr, 1);
        int busy_port = 0;
        int busy = listen_socket(&busy_port);
        EXPECT_FALSE(bond.open("127.0.0.1", busy_port));  // a failed open keeps no place
        ::close(busy);
        for (int i = 0; i < XeloBondServerSession::MAX_LISTENERS; ++i) {
            ASSERT_TRUE(bond.open("127.0.0.1", 0)) << i;
        }
        EXPECT_FALSE(bond.open("127.0.0.1", 0));
        EXPECT_EQ(256, bond.get_listener_count());
        // The last listener accepts like any other.
        XeloClientSession* client = make_client();
        client_.run([&] { client->open("127.0.0.1", bond.get_listener(255)->get_port()); });
        EXPECT_TRUE(wait_until([&] { return root_.connected == 1; }, 5000));
        clients_.clear();
    }
    EXPECT_EQ(before, count_fds());
}

TEST_F(ServerTest, DestroyedWithClientsConnectedAndOthersLeaving) {
    int before = count_fds();
    server_.reset(new XeloServerSession(server_reactor_.get(), nullptr, nullptr, 1));
    ASSERT_TRUE(server_->open("127.0.0.1", 0));
    const int staying = 20, leaving = 6;
    for (int i = 0; i < staying + leaving; ++i) {
        XeloClientSession* client = make_client();
        client_.run([&] { client->open("127.0.0.1", server_->get_port()); });
    }
    ASSERT_TRUE(wait_until([&] { return client_count() == staying + leaving; }, 10000));

    std::thread leave([&] {
        for (int i = staying; i < staying + leaving; ++i) {
            XeloClientSession* client = clients_[i].get();
            client_.run([&] { client->close(0); });
        }
    });
    server_.reset();  // returns once every client is gone
    leave.join();
    // Every client that stayed sees its connection end.
    EXPECT_TRUE(wait_until([&] { return root_.disconnected == staying + leaving; }, 5000))
        << root_.disconnected;
    clients_.clear();
    EXPECT_TRUE(wait_until([&] { return count_fds() == before; }, 3000)) << count_fds();
}

}  // namespace

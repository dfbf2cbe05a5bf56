#include "network/xelo_bond_client_session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "network/xelo_client_channel.h"
#include "session_test_util.h"

namespace {

using Network::XeloBondClientSession;
using namespace session_test;
using Strings = std::vector<std::string>;

const char TAG[] = "XeloBondClientSession";

// A line of the bond's: connecting at level 2, name servers at 5.
std::string line(const char* text, int port) {
    return std::string(strstr(text, "fens") ? "5 " : "2 ") + TAG + " " + text + " [127.0.0.1] [" +
           std::to_string(port) + "]";
}
std::string uri(int port) {
    return "tcp://127.0.0.1:" + std::to_string(port);
}

class BondTest : public ::testing::Test {
  protected:
    void TearDown() override { bond_.reset(); }
    bool connected_to(int index) {
        bool yes = false;
        reactor_.run([&] {
            Network::XeloClientChannel* channel = bond_->get_channel();
            yes = bond_->get_current_index() == index && channel != nullptr && channel->is_valid();
        });
        return yes;
    }
    // Waits for the bond's first lines and compares them.
    void expect_lines(const Strings& want, int ms) {
        EXPECT_TRUE(wait_until([&] { return lines_.with(TAG).size() >= want.size(); }, ms));
        Strings got = lines_.with(TAG);
        got.resize(std::min(got.size(), want.size()));
        EXPECT_EQ(want, got);
    }

    ReactorThread reactor_;
    Root root_;
    Lines lines_;
    std::unique_ptr<XeloBondClientSession> bond_{
        new XeloBondClientSession(reactor_.get(), &root_, &lines_, 1)};
};

TEST_F(BondTest, RefusedFirstFrontFailsOverToTheSecond) {
    int refused = refused_port();
    RawFront second(RawFront::HOLD);
    reactor_.run([&] {
        EXPECT_EQ(nullptr, bond_->get_channel());  // no front known yet
        bond_->open("127.0.0.1", refused);
        bond_->open("127.0.0.1", second.port());
    });
    ASSERT_TRUE(wait_until([&] { return root_.connected == 1; }, 5000));
    EXPECT_TRUE(connected_to(1));
    EXPECT_EQ(1, root_.failed);  // the parent heard of the failure
    expect_lines({line("connect failed", refused), line("try connect", second.port())}, 0);
}

TEST_F(BondTest, TwoRefusingFrontsWrapAroundToTheFirst) {
    int first = refused_port(), second = refused_port();
    Clock::time_point start = Clock::now();
    reactor_.run([&] {
        bond_->open("127.0.0.1", first);
        bond_->open("127.0.0.1", second);
    });
    expect_lines(
        {line("connect failed", first), line("try connect", second), line("connect failed", second),
         line("try connect", first), line("connect failed", first)},
        6000);
    // The first front's second attempt waited its interval: no storm.
    EXPECT_GE(seconds_since(start), 1.4);
    EXPECT_EQ(0, root_.connected);
}

TEST_F(BondTest, NameServerAnswerRegistersEveryLineAndConnectsTheFirst) {
    RawFront first(RawFront::HOLD), second(RawFront::HOLD);
    // Lines without a positive port are skipped.
    RawFront server(RawFront::CLOSE, "garbage\r\n" + uri(first.port()) +
                                         "/md\r\ntcp://127.0.0.1\ntcp://127.0.0.1:0\r"
                                         "tcp:/127.0.0.1:80\r" +
                                         uri(second.port()));
    reactor_.run([&] { EXPECT_TRUE(bond_->register_fens("127.0.0.1", server.port())); });
    ASSERT_TRUE(wait_until([&] { return root_.connected == 1; }, 5000));
    EXPECT_TRUE(connected_to(0));
    expect_lines({line("try fens", server.port()), line("get address from fens", first.port()),
                  line("get address from fens", second.port())},
                 0);
    reactor_.run([&] { EXPECT_EQ(2, bond_->get_front_count()); });
    EXPECT_TRUE(wait_until([&] { return first.accepted() == 1; }, 2000));
    EXPECT_EQ(0, second.accepted());
}

TEST_F(BondTest, FailedLearnedFrontsAreForgottenAndTheNameServerAskedAgain) {
    int a = refused_port(), b = refused_port();
    RawFront server(RawFront::CLOSE, uri(a) + "\r\n" + uri(b) + "\r\n");
    Clock::time_point start = Clock::now();
    reactor_.run([&] { bond_->register_fens("127.0.0.1", server.port()); });
    expect_lines({line("try fens", server.port()), line("get address from fens", a),
                  line("get address from fens", b), line("connect failed", a),
                  line("try connect", b), line("connect failed", b),
                  line("try fens", server.port()), line("get address from fens", a)},
                 6000);
    EXPECT_EQ(2, server.accepted());
    EXPECT_GE(seconds_since(start), 0.9);
    // Learned again from scratch: the same two fronts, not four.
    reactor_.run([&] { EXPECT_LE(bond_->get_front_count(), 2); });
}

TEST_F(BondTest, SilentOrUnreachableNameServerLeadsToTheNext) {
    RawFront front(RawFront::HOLD), silent(RawFront::CLOSE);
    RawFront good(RawFront::CLOSE, uri(front.port()) + "\n");
    int unreachable = refused_port();
    reactor_.run([&] {
        for (int port : {silent.port(), unreachable, good.port()})
            bond_->register_fens("127.0.0.1", port);
    });
    ASSERT_TRUE(wait_until([&] { return root_.connected == 1; }, 8000));
    expect_lines({line("try fens", silent.port()), line("try fens", unreachable),
                  line("try fens", good.port()), line("get address from fens", front.port())},
                 0);
    EXPECT_EQ(2, root_.failed);  // each name server given up reached the parent
}

TEST_F(BondTest, RegistrationTablesHold256Entries) {
    int port = refused_port();
    reactor_.run([&] {
        for (int i = 0; i < XeloBondClientSession::MAX_FRONTS; ++i)
            ASSERT_TRUE(bond_->open("127.0.0.1", port));
        EXPECT_FALSE(bond_->open("127.0.0.1", port));
        for (int i = 0; i < XeloBondClientSession::MAX_FENS; ++i)
            ASSERT_TRUE(bond_->register_fens("127.0.0.1", port));
        EXPECT_FALSE(bond_->register_fens("127.0.0.1", port));
        EXPECT_FALSE(bond_->register_fens("127.0.0.1", 0));
        EXPECT_EQ(0, bond_->get_current_index());
    });
}

}  // namespace

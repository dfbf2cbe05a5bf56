#include "network/xelo_bond_client_session.h"

#include <gtest/gtest.h>

#include <memory>

#include "network/xelo_client_channel.h"
#include "session_test_util.h"

namespace {

using Network::XeloBondClientSession;
using namespace session_test;

const char TAG[] = "XeloBondClientSession";

std::string line(int level, const char* text, int port) {
    return std::to_string(level) + " " + TAG + " " + text + " [127.0.0.1] [" +
           std::to_string(port) + "]";
}

std::string uri(int port) {
    return "tcp://127.0.0.1:" + std::to_string(port);
}

// The bond's first n lines.
std::vector<std::string> bond_lines(Lines& lines, size_t n) {
    std::vector<std::string> all = lines.with(TAG);
    if (all.size() > n) all.resize(n);
    return all;
}

class BondTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bond_.reset(new XeloBondClientSession(reactor_.get(), &root_, &lines_, 1));
    }
    void TearDown() override { bond_.reset(); }
    bool connected_to(int index) {
        bool yes = false;
        reactor_.run([&] {
            Network::XeloClientChannel* channel = bond_->get_channel();
            yes = bond_->get_current_index() == index && channel != nullptr && channel->is_valid();
        });
        return yes;
    }
    bool has_lines(size_t n) { return lines_.with(TAG).size() >= n; }

    ReactorThread reactor_;
    Root root_;
    Lines lines_;
    std::unique_ptr<XeloBondClientSession> bond_;
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
    std::vector<std::string> expected = {line(2, "connect failed", refused),
                                         line(2, "try connect", second.port())};
    EXPECT_EQ(expected, bond_lines(lines_, 2));
}

TEST_F(BondTest, TwoRefusingFrontsWrapAroundToTheFirst) {
    int first = refused_port();
    int second = refused_port();
    Clock::time_point start = Clock::now();
    reactor_.run([&] {
        bond_->open("127.0.0.1", first);
        bond_->open("127.0.0.1", second);
    });
    ASSERT_TRUE(wait_until([&] { return has_lines(5); }, 6000));
    std::vector<std::string> expected = {
        line(2, "connect failed", first), line(2, "try connect", second),
        line(2, "connect failed", second), line(2, "try connect", first),
        line(2, "connect failed", first)};
    EXPECT_EQ(expected, bond_lines(lines_, 5));
    // The first front's second attempt waited its interval: no storm.
    EXPECT_GE(seconds_since(start), 1.4);
    EXPECT_EQ(0, root_.connected);
}

TEST_F(BondTest, NameServerAnswerRegistersEveryLineAndConnectsTheFirst) {
    RawFront first(RawFront::HOLD), second(RawFront::HOLD);
    // Lines without a positive port are skipped.
    RawFront fens(RawFront::CLOSE, "garbage\r\n" + uri(first.port()) + "/md\r\ntcp://127.0.0.1\n" +
                                       "tcp://127.0.0.1:0\rtcp:/127.0.0.1:80\r" +
                                       uri(second.port()));
    reactor_.run([&] { EXPECT_TRUE(bond_->register_fens("127.0.0.1", fens.port())); });
    ASSERT_TRUE(wait_until([&] { return root_.connected == 1; }, 5000));
    EXPECT_TRUE(connected_to(0));
    std::vector<std::string> expected = {line(5, "try fens", fens.port()),
                                         line(5, "get address from fens", first.port()),
                                         line(5, "get address from fens", second.port())};
    EXPECT_EQ(expected, bond_lines(lines_, 3));
    reactor_.run([&] { EXPECT_EQ(2, bond_->get_front_count()); });
    EXPECT_TRUE(wait_until([&] { return first.accepted() == 1; }, 2000));
    EXPECT_EQ(0, second.accepted());
}

TEST_F(BondTest, FailedLearnedFrontsAreForgottenAndTheNameServerAskedAgain) {
    int a = refused_port(), b = refused_port();
    RawFront fens(RawFront::CLOSE, uri(a) + "\r\n" + uri(b) + "\r\n");
    Clock::time_point start = Clock::now();
    reactor_.run([&] { bond_->register_fens("127.0.0.1", fens.port()); });
    ASSERT_TRUE(wait_until([&] { return fens.accepted() == 2 && has_lines(8); }, 6000));
    EXPECT_GE(seconds_since(start), 0.9);
    std::vector<std::string> expected = {
        line(5, "try fens", fens.port()),    line(5, "get address from fens", a),
        line(5, "get address from fens", b), line(2, "connect failed", a),
        line(2, "try connect", b),           line(2, "connect failed", b),
        line(5, "try fens", fens.port()),    line(5, "get address from fens", a)};
    EXPECT_EQ(expected, bond_lines(lines_, 8));
    // Learned again from scratch: the same two fronts, not four.
    reactor_.run([&] { EXPECT_LE(bond_->get_front_count(), 2); });
}

TEST_F(BondTest, SilentOrUnreachableNameServerLeadsToTheNext) {
    RawFront front(RawFront::HOLD);
    RawFront silent(RawFront::CLOSE);
    int unreachable = refused_port();
    RawFront good(RawFront::CLOSE, uri(front.port()) + "\n");
    reactor_.run([&] {
        bond_->register_fens("127.0.0.1", silent.port());
        bond_->register_fens("127.0.0.1", unreachable);
        bond_->register_fens("127.0.0.1", good.port());
    });
    ASSERT_TRUE(wait_until([&] { return root_.connected == 1; }, 8000));
    std::vector<std::string> expected = {
        line(5, "try fens", silent.port()), line(5, "try fens", unreachable),
        line(5, "try fens", good.port()), line(5, "get address from fens", front.port())};
    EXPECT_EQ(expected, bond_lines(lines_, 4));
    EXPECT_EQ(2, root_.failed);  // each name server given up reached the parent
}

TEST_F(BondTest, RegistrationTablesHold256Entries) {
    int port = refused_port();
    reactor_.run([&] {
        for (int i = 0; i < XeloBondClientSession::MAX_FRONTS; ++i) {
            ASSERT_TRUE(bond_->open("127.0.0.1", port));
        }
        EXPECT_FALSE(bond_->open("127.0.0.1", port));
        for (int i = 0; i < XeloBondClientSession::MAX_FENS; ++i) {
            ASSERT_TRUE(bond_->register_fens("127.0.0.1", port));
        }
        EXPECT_FALSE(bond_->register_fens("127.0.0.1", port));
        EXPECT_FALSE(bond_->register_fens("127.0.0.1", 0));
        EXPECT_EQ(0, bond_->get_current_index());
    });
}

}  // namespace

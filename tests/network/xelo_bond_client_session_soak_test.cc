// Sixteen fronts that go down, come back, accept and drop connections at
// random for about ten seconds, against one bond session.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

#include "network/xelo_bond_client_session.h"
#include "network/xelo_client_channel.h"
#include "session_test_util.h"

namespace {

using Network::XeloBondClientSession;
using namespace session_test;

const int FRONTS = 16;

TEST(BondSoak, RandomFrontsNeverGiveTwoConnectionsLeaksOrAStorm) {
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    const int fds_before = count_fds();
    double elapsed = 0;
    int attempts = 0, connects = 0, front_accepted = 0;
    RawFront::Tally fronts_open;
    {
        ReactorThread reactor;
        Root root;
        Lines lines;
        std::vector<std::unique_ptr<RawFront>> fronts;
        for (int i = 0; i < FRONTS; ++i)
            fronts.emplace_back(new RawFront(RawFront::RANDOM, "", seed + i, &fronts_open));
        XeloBondClientSession bond(reactor.get(), &root, &lines, 1);
        reactor.run([&] {
            for (auto& front : fronts) bond.open("127.0.0.1", front->port());
        });
        Clock::time_point start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        elapsed = seconds_since(start);
        reactor.run([&] { bond.close(0); });
        connects = static_cast<int>(lines.with("connect ok!").size());
        attempts = connects + static_cast<int>(lines.with("connect error!").size());
        for (auto& front : fronts) front_accepted += front->accepted();
        EXPECT_LE(root.max_open.load(), 1);
    }
    printf("soak: %d attempts, %d connections, %d accepted by fronts in %.1f s\n", attempts,
           connects, front_accepted, elapsed);
    EXPECT_LE(fronts_open.max_open.load(), 1);
    // Every front gets its first attempt at once; after that each attempt
    // waits the 1.5 s interval.
    EXPECT_LE(attempts, FRONTS + static_cast<int>(std::ceil(elapsed / 1.5)) + 1)
        << attempts << " attempts in " << elapsed << " s";
    EXPECT_GE(connects, 2);
    EXPECT_EQ(fds_before, count_fds());
}

}  // namespace

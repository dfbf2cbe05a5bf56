// The front's and its name server's refusals of a bad configuration. A whole
// front serving the client library is the end-to-end test's (it runs the
// program).
#include "tools/front/front_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/tools/process.h"
#include "tools/front/name_server.h"

namespace {

TEST(FrontServer, RefusesBadConfigurationElseServesTheMarket) {
    const char* table = "tools/front/front_server.data";
    for (const TestTable::Row& r : TestTable::read(table, "refuse")) {
        Front::FrontServer::Options o;
        o.listen = {r[1] == "listen" ? r[2] : "127.0.0.1:0"};
        if (r[1] == "topics") o.topics = {std::stoi(r[2])};
        if (r[1] == "users") o.users_path = r[2];
        if (r[1] == "scenario") o.scenario_path = r[2];
        if (r[1] == "replay") o.replay_path = r[2];
        if (r[1] == "cipher") o.cipher_type = std::stoi(r[2]);
        Front::FrontServer server;
        std::string error;
        EXPECT_FALSE(server.start(o, error));
        EXPECT_EQ(error, TestTable::text(r, 3)) << TestTable::where(table, r);
    }
    // With none of them it serves the market (to no one yet).
    Front::FrontServer::Options good;
    good.listen = {"127.0.0.1:0"};
    good.rate = 1000;
    Front::FrontServer server;
    std::string error;
    ASSERT_TRUE(server.start(good, error)) << error;
    for (int i = 0; i < 200 && server.get_market_count() < 50; ++i) usleep(10000);
    EXPECT_GE(server.get_market_count(), 50u);
    // The name server's: answering the library with the front lines, once per
    // connection, is the end-to-end resume test's (both its clients find the
    // front only through it).
    Front::NameServer bad;
    EXPECT_FALSE(bad.start("not-an-address", 0, {}, error));
    EXPECT_EQ(error, "bad name-server host not-an-address");
    EXPECT_EQ(bad.get_answered(), 0u);
}

}  // namespace

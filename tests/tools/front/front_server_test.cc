// The front's and its name server's refusals of a bad configuration. A good
// one serving the market is the end-to-end tests' (they run the program) and
// the API session tests' (they run the server in process).
#include "tools/front/front_server.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/tools/process.h"
#include "tools/front/name_server.h"

namespace {

TEST(FrontServer, RefusesBadConfiguration) {
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
        EXPECT_EQ(server.get_market_count(), 0u);  // refused before any market runs
    }
    std::string error;
    // The name server's: answering the library with the front lines, once per
    // connection, is the end-to-end resume test's (both its clients find the
    // front only through it).
    Front::NameServer bad;
    EXPECT_FALSE(bad.start("not-an-address", 0, {}, error));
    EXPECT_EQ(error, "bad name-server host not-an-address");
    EXPECT_EQ(bad.get_answered(), 0u);
}

}  // namespace

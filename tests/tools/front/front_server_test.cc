// The front's refusals of a bad configuration and its name server on
// loopback. A whole front serving the client library is the end-to-end
// test's (it runs the program).
#include "tools/front/front_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
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
        EXPECT_EQ(error, ToolTest::text_of(r, 3)) << TestTable::where(table, r);
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
}

TEST(NameServer, AnswersEachConnectionWithTheFrontLines) {
    Front::NameServer names;
    std::string error;
    ASSERT_TRUE(names.start("127.0.0.1", 0, {"127.0.0.1:30007", "127.0.0.1:30008"}, error));
    for (int round = 0; round < 2; ++round) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(names.get_port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        std::string answer;
        char buffer[256];
        for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
            answer.append(buffer, static_cast<size_t>(n));
        close(fd);
        EXPECT_EQ(answer, "tcp://127.0.0.1:30007\r\ntcp://127.0.0.1:30008\r\n");
    }
    EXPECT_EQ(names.get_answered(), 2u);
    names.stop();
    Front::NameServer bad;
    EXPECT_FALSE(bad.start("not-an-address", 0, {}, error));
    EXPECT_EQ(error, "bad name-server host not-an-address");
}

}  // namespace

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

#include "tools/front/name_server.h"

namespace {

TEST(FrontServer, RefusesBadConfiguration) {
    struct {
        void (*set)(Front::FrontServer::Options&);
        const char* message;
    } cases[] = {
        {[](Front::FrontServer::Options& o) { o.topics = {1}; },
         "topic 1 cannot be served (repeated, reserved: 0, 1, 4, 5, 65535, or more than 64)"},
        {[](Front::FrontServer::Options& o) { o.listen = {"nowhere"}; },
         "bad listening address \"nowhere\" (HOST:PORT)"},
        {[](Front::FrontServer::Options& o) { o.users_path = "/nonexistent.json"; },
         "cannot read /nonexistent.json"},
        {[](Front::FrontServer::Options& o) { o.cipher_type = 5; },
         "the cipher type must be 0 to 4"},
    };
    for (const auto& c : cases) {
        Front::FrontServer::Options options;
        options.listen = {"127.0.0.1:0"};
        c.set(options);
        Front::FrontServer server;
        std::string error;
        EXPECT_FALSE(server.start(options, error));
        EXPECT_EQ(error, c.message);
    }
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
    names.stop();
    Front::NameServer bad;
    EXPECT_FALSE(bad.start("not-an-address", 0, {}, error));
    EXPECT_EQ(error, "bad name-server host not-an-address");
}

}  // namespace

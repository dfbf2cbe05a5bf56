// A whole front on its own reactor thread, reached over loopback TCP by the
// independent small client: live topics, the scripted drop of a chosen
// connection, and shutdown with clients connected.
#include "tools/front/front_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "mini_client.h"
#include "tools/front/name_server.h"

namespace {

using Mini::MiniClient;

int connect_to(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Drives the client's channel until done() or about ten seconds pass.
template <typename F>
bool pump(MiniClient& c, F done) {
    for (int i = 0; i < 10000; ++i) {
        if (c.channel.is_valid()) {
            c.channel.write();
            int rc = c.channel.read();
            if (rc < 0) c.last_read = rc;
        }
        if (done()) return true;
        usleep(1000);
    }
    return false;
}

void login(MiniClient& c, int port) {
    int fd = connect_to(port);
    ASSERT_GT(fd, 0);
    c.start(fd);
    c.send_key_exchange();
    ASSERT_TRUE(pump(c, [&] { return c.find(0x6092) != nullptr; }));
    ASSERT_TRUE(c.apply_key(c.find(0x6092)->session_text));
    c.send_login("demo", "pw", 0, nullptr, 100);
    ASSERT_TRUE(pump(c, [&] { return c.find(0x5901) != nullptr; }));
    ASSERT_EQ(c.find(0x1002)->error_id, 0);
}

std::string write_file(const char* text) {
    char path[] = "/tmp/xelmd_front_XXXXXX";
    int fd = mkstemp(path);
    EXPECT_EQ(write(fd, text, strlen(text)), static_cast<ssize_t>(strlen(text)));
    close(fd);
    return path;
}

TEST(FrontServer, LiveTopicsScriptedDropAndShutdown) {
    std::string users = write_file(R"({"users": [{"user": "demo", "password": "pw"}]})");
    std::string scenario =
        write_file(R"({"faults": [{"action": "drop", "after": 0.2, "connection": 2}]})");
    Front::FrontServer::Options options;
    options.listen = {"127.0.0.1:0"};
    options.topics = {100, 200};
    options.rate = 400;
    options.snapshot_every = 10;
    options.users_path = users;
    options.scenario_path = scenario;
    options.terminal_key = std::string(XELMD_SOURCE_DIR) + "/tools/keys/terminal_rsa_private.pem";
    Front::FrontServer server;
    std::string error;
    ASSERT_TRUE(server.start(options, error)) << error;
    int port = server.get_ports()[0];

    // The first client: topic 100 from the start, then topic 200 subscribed.
    MiniClient first;
    login(first, port);
    Field::XelDisseminationField topic200 = {200, 0};
    first.send(0x1F01, &topic200, &topic200.DESC, &Field::XelDisseminationField::to_stream, 2);
    auto& t100 = first.topic_sequences[100];
    auto& t200 = first.topic_sequences[200];
    ASSERT_TRUE(pump(first, [&] { return t100.size() >= 200 && t200.size() >= 200; }));
    for (size_t i = 0; i < 200; ++i) {
        ASSERT_EQ(t100[i], i + 1);
        ASSERT_EQ(t200[i], i + 1);
    }
    EXPECT_EQ(first.find(0x1F02)->error_id, 0);

    // The second connection is dropped by the scenario; the first lives on.
    MiniClient second;
    login(second, port);
    ASSERT_TRUE(pump(second, [&] { return !second.channel.is_valid(); }));
    EXPECT_EQ(second.last_read, Network::XeloClientChannel::CLOSE_PEER);
    size_t before = t100.size();
    ASSERT_TRUE(pump(first, [&] { return t100.size() > before + 20; }));
    EXPECT_TRUE(first.channel.is_valid());
    EXPECT_GT(server.get_market_count(), 400u);
    EXPECT_NE(server.status_line(0).find("client(s)"), std::string::npos);

    // Stopping disconnects the remaining client.
    server.stop();
    ASSERT_TRUE(pump(first, [&] { return !first.channel.is_valid(); }));
    EXPECT_EQ(first.last_read, Network::XeloClientChannel::CLOSE_PEER);
    remove(users.c_str());
    remove(scenario.c_str());
}

TEST(FrontServer, RefusesBadConfiguration) {
    struct {
        void (*set)(Front::FrontServer::Options&);
        const char* message;
    } cases[] = {
        {[](Front::FrontServer::Options& o) { o.topics = {1}; }, "topic 1 cannot be served"},
        {[](Front::FrontServer::Options& o) { o.listen = {"nowhere"}; }, "bad listening address"},
        {[](Front::FrontServer::Options& o) { o.users_path = "/nonexistent.json"; },
         "cannot read /nonexistent.json"},
        {[](Front::FrontServer::Options& o) { o.cipher_type = 5; }, "cipher type"},
    };
    for (const auto& c : cases) {
        Front::FrontServer::Options options;
        options.listen = {"127.0.0.1:0"};
        c.set(options);
        Front::FrontServer server;
        std::string error;
        EXPECT_FALSE(server.start(options, error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(NameServer, AnswersEachConnectionWithTheFrontLines) {
    Front::NameServer names;
    std::string error;
    ASSERT_TRUE(names.start("127.0.0.1", 0, {"127.0.0.1:30007", "127.0.0.1:30008"}, error));
    for (int round = 0; round < 2; ++round) {
        int fd = connect_to(names.get_port());
        ASSERT_GT(fd, 0);
        std::string answer;
        char buffer[256];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0)
            answer.append(buffer, static_cast<size_t>(n));
        close(fd);
        EXPECT_EQ(answer, "tcp://127.0.0.1:30007\r\ntcp://127.0.0.1:30008\r\n");
    }
    EXPECT_EQ(names.get_answered(), 2u);
    names.stop();
    Front::NameServer bad;
    EXPECT_FALSE(bad.start("not-an-address", 0, {}, error));
}

}  // namespace

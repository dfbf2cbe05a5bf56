// A whole front on its own reactor thread, reached over loopback TCP by the
// client library: live topics (one subscribed after the login), the scripted
// drop of a chosen connection, and shutdown with a client connected.
#include "tools/front/front_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tests/api/recording_spi.h"
#include "tests/tools/process.h"
#include "tools/front/name_server.h"

namespace {

// The library in a flow directory of its own, logging in as demo whenever
// it is connected, topic 100 from the beginning.
class Client : public ApiTest::RecordingSpi {
  public:
    explicit Client(int port) {
        api->RegisterSpi(this);
        api->RegisterFront(("tcp://127.0.0.1:" + std::to_string(port)).c_str());
        api->SubscribeMarketDataTopic(100, TE_RESUME_FROM_BEGINNING);
        EXPECT_EQ(api->Init(), 0);
    }
    ~Client() {
        api->Release();
        api->Join();
        ToolTest::remove_dir(dir);
    }
    void OnFrontConnected() override {
        RecordingSpi::OnFrontConnected();
        CTarnXeloReqUserLoginField r = {};
        strcpy(r.UserID, "demo");
        strcpy(r.Password, "pw");
        strcpy(r.UserProductInfo, "test");
        api->ReqUserLogin(&r, 1);
    }
    // The packet numbers of a topic, in the order they came.
    std::vector<int> sequences(int topic) {
        std::vector<int> out;
        const std::string head = "start " + std::to_string(topic) + " ";
        for (const std::string& l : lines())
            if (l.rfind(head, 0) == 0) out.push_back(std::stoi(l.substr(head.size())));
        return out;
    }
    std::string dir = ToolTest::temp_dir();
    CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi(dir.c_str());
};

TEST(FrontServer, LiveTopicsScriptedDropAndShutdown) {
    const std::string dir = ToolTest::temp_dir();
    ToolTest::write_file(dir + "/users.json", R"({"users": [{"user": "demo", "password": "pw"}]})");
    ToolTest::write_file(dir + "/scenario.json",
                         R"({"faults": [{"action": "drop", "after": 0.2, "connection": 2}]})");
    Front::FrontServer::Options options;
    options.listen = {"127.0.0.1:0"};
    options.topics = {100, 200};
    options.rate = 400;
    options.snapshot_every = 10;
    options.users_path = dir + "/users.json";
    options.scenario_path = dir + "/scenario.json";
    options.terminal_key = std::string(XELMD_SOURCE_DIR) + "/tools/keys/terminal_rsa_private.pem";
    Front::FrontServer server;
    std::string error;
    ASSERT_TRUE(server.start(options, error)) << error;
    const int port = server.get_ports()[0];

    // The first client: topic 100 from the start, then topic 200 subscribed.
    Client first(port);
    ASSERT_TRUE(first.wait_for("login 0:", 1, 5000, true));
    CTarnXeloDisseminationField topic200 = {200, 0};
    ASSERT_EQ(first.api->ReqSubscribeTopic(&topic200, 2), 0);
    ASSERT_TRUE(first.wait_for("start 200 ", 200, 10000, true));
    EXPECT_EQ(first.count("subscribe 200@0 0:", true), 1);
    for (int topic : {100, 200}) {
        std::vector<int> seen = first.sequences(topic);
        ASSERT_GE(seen.size(), 200u);
        for (size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], static_cast<int>(i) + 1);
    }

    // The second connection is dropped by the scenario; the first lives on.
    Client second(port);
    ASSERT_TRUE(second.wait_for("disconnected 4097"));
    EXPECT_EQ(second.count("login 0:", true), 1);
    const int before = first.count("start 100 ", true);
    ASSERT_TRUE(first.wait_for("start 100 ", before + 20, 5000, true));
    EXPECT_EQ(first.count("disconnected", true), 0);
    EXPECT_GT(server.get_market_count(), 400u);
    EXPECT_NE(server.status_line(0).find("client(s)"), std::string::npos);

    // Stopping disconnects the remaining client.
    server.stop();
    EXPECT_TRUE(first.wait_for("disconnected 4097"));
    ToolTest::remove_dir(dir);
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
}

}  // namespace

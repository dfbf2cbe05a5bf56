// xelmd-front as a program: its refusals of bad arguments, a port already
// taken, and no descriptor of its own left open across an exec.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "../process.h"

namespace {

const char* const TABLE = "tools/front/program.data";

// Exit status and output of one run that is expected to end by itself.
int run(const std::string& args, std::string& output) {
    std::string dir = ToolTest::temp_dir();
    std::istringstream words(args);
    std::vector<std::string> argv;
    for (std::string w; words >> w;) argv.push_back(w);
    int status = ToolTest::wait_exit(ToolTest::spawn(XELMD_FRONT_BIN, argv, dir + "/log"), 20000);
    output = ToolTest::read_file(dir + "/log");
    ToolTest::remove_dir(dir);
    return status;
}

sockaddr_in loopback(int port) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

TEST(FrontProgram, RefusesBadArgumentsWithTheirStatus) {
    for (const TestTable::Row& r : TestTable::read(TABLE, "args")) {
        std::string output;
        EXPECT_EQ(run(TestTable::text(r, 3), output), std::stoi(r[1]))
            << TestTable::where(TABLE, r);
        EXPECT_NE(output.find(r[2]), std::string::npos) << TestTable::where(TABLE, r) << output;
    }
    // A port another socket holds.
    int taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    ASSERT_EQ(getsockname(taken, reinterpret_cast<sockaddr*>(&a), &length), 0);
    std::string address = "127.0.0.1:" + std::to_string(ntohs(a.sin_port)), output;
    for (const char* option : {"--listen ", "--listen 127.0.0.1:0 --name-server "}) {
        EXPECT_EQ(run(option + address, output), 1);
        EXPECT_NE(output.find("cannot listen on " + address + ": Address already in use"),
                  std::string::npos)
            << output;
    }
    close(taken);
}

// Every socket and file of the front, with a client connected to the
// front, a replay file open and the name server listening.
TEST(FrontProgram, EveryDescriptorClosesOnExec) {
    ToolTest::FrontProcess front;
    ASSERT_TRUE(front.start(XELMD_FRONT_BIN, {"--name-server", "127.0.0.1:0", "--replay",
                                              XELMD_SOURCE_DIR "/tests/tools/front/depth.csv"}));
    int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(front.ports.at(0));
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::string fds = "/proc/" + std::to_string(front.pid) + "/fd";
    int sockets = 0;
    for (int tries = 0; tries < 100 && sockets < 3; ++tries) {
        usleep(50000);
        sockets = 0;
        for (const auto& e : std::filesystem::directory_iterator(fds))
            sockets += std::filesystem::read_symlink(e.path()).string().rfind("socket:", 0) == 0;
    }
    ASSERT_GE(sockets, 3) << "front listener, name server, accepted client";
    // What the front opened itself: descriptors inherited from the test
    // (its log, the runner's) are not its own.
    int checked = 0;
    for (const auto& e : std::filesystem::directory_iterator(fds)) {
        std::string target = std::filesystem::read_symlink(e.path()).string();
        if (target.rfind("socket:", 0) != 0 && target.find("depth.csv") == std::string::npos)
            continue;
        std::string info = ToolTest::read_file("/proc/" + std::to_string(front.pid) + "/fdinfo/" +
                                               e.path().filename().string());
        unsigned long flags = std::stoul(info.substr(info.find("flags:") + 6), nullptr, 8);
        EXPECT_NE(flags & 02000000, 0u) << target;
        ++checked;
    }
    EXPECT_GE(checked, 4);
    close(client);
}

}  // namespace

// xelmd-watch against xelmd-front processes: its refusals of bad arguments,
// books that wait for a snapshot, a topic the front refuses, the connection
// file kept out of the current directory, disconnections by reason and a
// silence that ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "../process.h"

namespace {

const char* const TABLE = "tools/watch/program.data";

// Exit status and output of one watcher run in dir (its current directory
// and TMPDIR).
int watch(const std::string& dir, const std::vector<std::string>& args, std::string& output) {
    std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    setenv("TMPDIR", dir.c_str(), 1);
    pid_t pid = ToolTest::spawn(XELMD_WATCH_BIN, args, dir + "/../watch.log");
    std::filesystem::current_path(cwd);
    int status = ToolTest::wait_exit(pid, 60000);
    output = ToolTest::read_file(dir + "/../watch.log");
    std::filesystem::remove(dir + "/../watch.log");
    return status;
}

struct Scratch {
    std::string top = ToolTest::temp_dir(), dir = top + "/run";
    Scratch() { std::filesystem::create_directory(dir); }
    ~Scratch() { ToolTest::remove_dir(top); }
};

TEST(WatchProgram, RefusesBadArgumentsWithTheirStatus) {
    Scratch s;
    for (const TestTable::Row& r : TestTable::read(TABLE, "args")) {
        std::istringstream words(TestTable::text(r, 3));
        std::vector<std::string> args;
        for (std::string w; words >> w;) args.push_back(w);
        std::string output;
        EXPECT_EQ(watch(s.dir, args, output), std::stoi(r[1])) << TestTable::where(TABLE, r);
        EXPECT_NE(output.find(r[2]), std::string::npos) << TestTable::where(TABLE, r) << output;
    }
}

// Increments only: from now, no book is ever whole, so none shows numbers.
TEST(WatchProgram, BooksWaitForASnapshotAndRefusedTopicsAreShown) {
    ToolTest::FrontProcess front;
    ASSERT_TRUE(front.start(XELMD_FRONT_BIN, {"--rate", "100", "--snapshot-every", "0"}));
    Scratch s;
    std::string out;
    EXPECT_EQ(watch(s.dir,
                    {"--front", front.address(), "--topic", "100", "--topic", "77", "--count",
                     "100", "--plain"},
                    out),
              0)
        << out;
    EXPECT_NE(out.find("XS2509 waiting for snapshot"), std::string::npos) << out;
    EXPECT_EQ(out.find(" last "), std::string::npos) << out;
    EXPECT_NE(out.find("topic 77 refused by the front (topic query): 7 unknown topic"),
              std::string::npos)
        << out;
    // The connection file lived in a temporary directory, gone at exit.
    EXPECT_TRUE(std::filesystem::is_empty(s.dir)) << out;
}

// A sequence gap on the first connection, then a 7 s stall on the second:
// the silence is reported, then the status comes back with the data.
TEST(WatchProgram, DisconnectionReasonsAndASilenceThatEnds) {
    ToolTest::FrontProcess front;
    Scratch s;
    ToolTest::write_file(s.top + "/faults.json", R"({"faults": [
        {"action": "bad_sequence", "after": 0.5},
        {"action": "stall", "after": 1, "seconds": 7, "connection": 2}]})");
    ASSERT_TRUE(front.start(XELMD_FRONT_BIN, {"--scenario", s.top + "/faults.json"}));
    std::string out;
    EXPECT_EQ(watch(s.dir, {"--front", front.address(), "--seconds", "14", "--plain"}, out), 0);
    EXPECT_NE(out.find("disconnected (reason 8197 sequence gap), reconnecting"), std::string::npos)
        << out;
    size_t silent = out.rfind("status: silent for");
    ASSERT_NE(silent, std::string::npos) << out;
    EXPECT_NE(out.find("status: logged in", silent), std::string::npos) << out;
}

}  // namespace

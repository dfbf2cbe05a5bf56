#include "network/log_saver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string slurp(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

void append(Base::DataFlow& flow, const std::string& s) {
    memcpy(flow.alloc_object(static_cast<unsigned short>(s.size())), s.data(), s.size());
    flow.commit_object(static_cast<unsigned short>(s.size()), false);
}

TEST(LogSaver, AppendsAtMostOneHundredRecordsPerFlowPerCall) {
    char dir[] = "/tmp/log_saver_test_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string prefix = std::string(dir) + "/traffic";
    std::ofstream(prefix + "_1.slog") << "old|";  // appended to, not replaced
    Base::DataFlow a(1, 1 << 20, 1 << 20, nullptr, nullptr, 0, nullptr, false, false);
    Base::DataFlow b(2, 1 << 20, 1 << 20, nullptr, nullptr, 0, nullptr, false, false);
    std::string want[2] = {"old|", ""};
    for (int i = 0; i < 150; ++i) append(a, "a" + std::to_string(i) + ";");
    for (int i = 0; i < 100; ++i) want[0] += "a" + std::to_string(i) + ";";
    for (const char* s : {"b0", "b1", "b2"}) append(b, s), want[1] += s;
    Base::DataFlow* flows[] = {&a, &b};
    Network::LogSaver saver(prefix.c_str(), flows, 2);
    EXPECT_TRUE(saver.on_invoke());
    // Read while the saver still holds the files open: every record is flushed.
    EXPECT_EQ(slurp(prefix + "_1.slog"), want[0]);
    EXPECT_EQ(slurp(prefix + "_2.slog"), want[1]);
    EXPECT_TRUE(saver.on_invoke());
    for (int i = 100; i < 150; ++i) want[0] += "a" + std::to_string(i) + ";";
    EXPECT_EQ(slurp(prefix + "_1.slog"), want[0]);
    EXPECT_FALSE(saver.on_invoke());
    for (const char* f : {"_1.slog", "_2.slog"}) unlink((prefix + f).c_str());
    EXPECT_EQ(rmdir(dir), 0);  // nothing else was created

    Network::LogSaver lost("/nonexistent_dir_for_log_saver/t", flows, 1);
    append(a, "x");
    EXPECT_TRUE(lost.on_invoke());  // no file: the records are taken all the same
    EXPECT_EQ(lost.get_file(0), nullptr);
}

}  // namespace

#include "tools/record/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Record::Options;

bool parse(std::vector<const char*> args, Options& options, std::string& error) {
    args.insert(args.begin(), "xelmd-record");
    return options.parse(static_cast<int>(args.size()), const_cast<char**>(args.data()), error);
}

TEST(Options, AddressesAreTcpIpv4WithAPort) {
    struct {
        const char* address;
        bool valid;
    } table[] = {
        {"tcp://127.0.0.1:30007", true},   {"tcp://10.0.0.255:1", true},
        {"tcp://127.0.0.1:65535", true},   {"tcp://127.0.0.1:0", false},
        {"tcp://127.0.0.1:65536", false},  {"tcp://127.0.0.1", false},
        {"tcp://127.0.0:30007", false},    {"tcp://localhost:30007", false},
        {"udp://127.0.0.1:30007", false},  {"127.0.0.1:30007", false},
        {"tcp://127.0.0.1:30007x", false}, {"tcp://256.0.0.1:30007", false},
    };
    for (const auto& t : table) EXPECT_EQ(Options::valid_address(t.address), t.valid) << t.address;
}

TEST(Options, CommandLines) {
    struct {
        std::vector<const char*> args;
        const char* error;  // nullptr: accepted
    } table[] = {
        {{"--dir", "d"}, nullptr},
        {{"--dir", "d", "--front", "tcp://1.2.3.4:5", "--topic", "7:now", "--format", "json"},
         nullptr},
        {{"--topic", "1"}, "--dir is required"},
        {{"--dir", "d", "--front", "tcp://1.2.3:5"}, "bad address tcp://1.2.3:5"},
        {{"--dir", "d", "--name-server", "x"}, "bad address x"},
        {{"--dir", "d", "--front", "tcp://1.2.3.4:5", "--name-server", "tcp://1.2.3.4:6"},
         "not both"},
        {{"--dir", "d", "--topic", "7:later"}, "bad option or value: --topic 7:later"},
        {{"--dir", "d", "--topic", "70000"}, "bad option or value"},
        {{"--dir", "d", "--format", "xml"}, "bad option or value"},
        {{"--dir", "d", "--flush-ms", "0"}, "bad option or value"},
        {{"--dir", "d", "--what", "1"}, "bad option or value"},
        {{"--dir"}, "missing value after --dir"},
    };
    for (const auto& t : table) {
        Options options;
        std::string error;
        bool ok = parse(t.args, options, error);
        EXPECT_EQ(ok, t.error == nullptr) << error;
        if (t.error != nullptr) {
            EXPECT_NE(error.find(t.error), std::string::npos) << error;
        }
    }
    Options options;
    std::string error;
    ASSERT_TRUE(parse({"--dir", "d", "--topic", "7:now", "--topic", "8"}, options, error));
    ASSERT_EQ(options.topics.size(), 2u);
    EXPECT_TRUE(options.topics[0].from_now);
    EXPECT_FALSE(options.topics[1].from_now);
    EXPECT_EQ(options.fronts, std::vector<std::string>{"tcp://127.0.0.1:30007"});
}

}  // namespace

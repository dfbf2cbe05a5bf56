#include "base/uri.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct UriCase {
    const char* text;
    const char* scheme;
    const char* host;
    int port;
    const char* path;
};

void expect_part(const char* got, const char* want, const char* text, const char* part) {
    if (!text) text = "(null)";
    if (want == nullptr) {
        EXPECT_EQ(got, nullptr) << part << " of " << text;
    } else {
        ASSERT_NE(got, nullptr) << part << " of " << text;
        EXPECT_STREQ(got, want) << part << " of " << text;
    }
}

TEST(Uri, SplitsEachFormOfTheGrammar) {
    const UriCase cases[] = {
        {"tcp://127.0.0.1:5000/md", "tcp", "127.0.0.1", 5000, "md"},
        {"tcp://127.0.0.1", "tcp", "127.0.0.1", 0, nullptr},
        {"tcp:/127.0.0.1:5000", "tcp", nullptr, 0, nullptr},
        {"tcp://:5000", "tcp", "", 5000, nullptr},
        {"udp://10.0.0.1:17001", "udp", "10.0.0.1", 17001, nullptr},
        {"tcp://10.0.0.1/a/b", "tcp", "10.0.0.1", 0, "a/b"},
        {"tcp:///md", "tcp", "", 0, "md"},
        {"tcp://", "tcp", "", 0, nullptr},
        {"tcp://h:", "tcp", "h", 0, nullptr},
        {"tcp://h:/p", "tcp", "h", 0, "p"},
        {"tcp://h:abc", "tcp", "h", 0, nullptr},
        {"tcp://h:12x/p", "tcp", "h", 12, "p"},
        {"tcp://h:1:2", "tcp", "h", 1, nullptr},
        {"127.0.0.1", "127.0.0.1", nullptr, 0, nullptr},
        {":", "", nullptr, 0, nullptr},
        {"://x:7", "", "x", 7, nullptr},
        {"", nullptr, nullptr, 0, nullptr},
        {nullptr, nullptr, nullptr, 0, nullptr},
    };
    for (const UriCase& c : cases) {
        Base::Uri uri(c.text);
        if (c.text) {
            EXPECT_STREQ(uri.get_text(), c.text);
        }
        expect_part(uri.get_scheme(), c.scheme, c.text, "scheme");
        expect_part(uri.get_host(), c.host, c.text, "host");
        expect_part(uri.get_path(), c.path, c.text, "path");
        EXPECT_EQ(uri.get_port(), c.port) << c.text;
    }
}

TEST(Uri, ParseAgainReplacesEveryEarlierResult) {
    Base::Uri uri("tcp://1.2.3.4:99/old");
    uri.parse("tcp://5.6.7.8");
    EXPECT_STREQ(uri.get_host(), "5.6.7.8");
    EXPECT_EQ(uri.get_port(), 0);
    EXPECT_EQ(uri.get_path(), nullptr);
    uri.parse(nullptr);
    EXPECT_EQ(uri.get_scheme(), nullptr);
    EXPECT_EQ(uri.get_host(), nullptr);
}

TEST(Uri, OverlongTextIsCutInsideTheObject) {
    std::string text = "tcp://1.2.3.4:5/" + std::string(300, 'p');
    Base::Uri uri(text.c_str());
    EXPECT_EQ(std::string(uri.get_text()).size(), 127u);
    EXPECT_STREQ(uri.get_host(), "1.2.3.4");
    EXPECT_EQ(uri.get_port(), 5);
    EXPECT_EQ(std::string(uri.get_path()), std::string(127 - 16, 'p'));
}

}  // namespace

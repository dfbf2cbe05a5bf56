#include "base/uri.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

struct UriCase {
    const char* text;
    const char* scheme;
    const char* host;
    int port;
    const char* path;
};

std::string str(const char* p) {
    return p ? std::string(p) : std::string("<null>");
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
    // One object parses every row: nothing of an earlier result may stay.
    Base::Uri uri("tcp://1.2.3.4:99/old");
    for (const UriCase& c : cases) {
        uri.parse(c.text);
        EXPECT_EQ(std::make_tuple(str(uri.get_scheme()), str(uri.get_host()), uri.get_port(),
                                  str(uri.get_path())),
                  std::make_tuple(str(c.scheme), str(c.host), c.port, str(c.path)))
            << str(c.text);
        EXPECT_EQ(str(uri.get_text()), c.text ? c.text : "");
    }
}

TEST(Uri, OverlongTextIsCutInsideTheObject) {
    std::string text = "tcp://1.2.3.4:5/" + std::string(300, 'p');
    Base::Uri uri(text.c_str());
    EXPECT_EQ(std::string(uri.get_text()), text.substr(0, 127));
    EXPECT_EQ(std::make_tuple(str(uri.get_host()), uri.get_port(), str(uri.get_path())),
              std::make_tuple(std::string("1.2.3.4"), 5, std::string(127 - 16, 'p')));
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "parallel/reporter.h"

namespace {

// Keeps every line as "level tag text".
class Lines : public Parallel::Reporter {
  public:
    void report(int level, const char* tag, const char* format, ...) override {
        char text[256];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        lines.push_back(std::to_string(level) + " " + tag + " " + text);
    }
    std::vector<std::string> lines;
};

TEST(Reporter, ReportsThroughItsLogInterface) {
    Lines reporter;
    Base::Reportable* log = Parallel::Reporter::get_log(&reporter);
    ASSERT_NE(log, nullptr);
    log->report(5, "XeloClientChannel", "connect ok! [%s] [%d]", "127.0.0.1", 9000);
    ASSERT_EQ(reporter.lines.size(), 1u);
    EXPECT_EQ(reporter.lines[0], "5 XeloClientChannel connect ok! [127.0.0.1] [9000]");
    EXPECT_EQ(Parallel::Reporter::get_log(nullptr), nullptr);
}

}  // namespace

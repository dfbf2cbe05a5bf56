#include <gtest/gtest.h>

#include "lines_reporter.h"

namespace {

TEST(Reporter, ReportsThroughItsLogInterface) {
    ReactorTest::Lines reporter;
    Base::Reportable* log = Parallel::Reporter::get_log(&reporter);
    ASSERT_NE(log, nullptr);
    log->report(5, "XeloClientChannel", "connect ok! [%s] [%d]", "127.0.0.1", 9000);
    EXPECT_EQ(reporter.get(),
              std::vector<std::string>{"5 XeloClientChannel connect ok! [127.0.0.1] [9000]"});
    EXPECT_EQ(Parallel::Reporter::get_log(nullptr), nullptr);
}

}  // namespace

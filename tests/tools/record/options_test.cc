#include "tools/record/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "tests/tools/process.h"
#include "tools/common/address.h"

namespace {

using Record::Options;

const char* const TABLE = "tools/record/options.data";

// What a command line gives, as the table's expectation rows write it.
std::string parsed(const std::string& command_line) {
    std::vector<std::string> args = {"xelmd-record"};
    std::istringstream in(command_line);
    for (std::string arg; in >> arg;) args.push_back(arg);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    Options o;
    std::string error, out = "ok:";
    if (!o.parse(static_cast<int>(argv.size()), argv.data(), error)) return "error:" + error;
    for (const std::string& f : o.fronts) out += f + " ";
    for (const std::string& n : o.name_servers) out += "names " + n + " ";
    for (const Options::Topic& t : o.topics)
        out += std::to_string(t.id) + (t.from_now ? ":now " : " ");
    return out + (o.format == Record::Format::CSV ? "csv" : "json");
}

TEST(Options, CommandLines) {
    const std::vector<TestTable::Row> rows = TestTable::read(TABLE);
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i][0] == "args") {
            SCOPED_TRACE(TestTable::where(TABLE, rows[i]));
            ASSERT_LT(i + 1, rows.size());
            EXPECT_EQ(parsed(TestTable::text(rows[i])),
                      rows[i + 1][0] + ":" + TestTable::text(rows[i + 1]));
        }
}

TEST(Options, AddressesAreTcpIpv4WithAPort) {
    for (const TestTable::Row& row : TestTable::read(TABLE, "address")) {
        std::string why;
        EXPECT_EQ(ToolCommon::valid_front_address(TestTable::text(row, 2), why), row[1] == "valid")
            << TestTable::text(row, 2);
    }
}

}  // namespace

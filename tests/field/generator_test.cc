// The catalogue generator refuses malformed schemas with a message naming
// the line, instead of writing code that does not compile.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Result {
    int status;
    std::string output;
};

Result generate(const std::string& schema) {
    // A file of its own: ctest runs these cases in parallel processes.
    std::string dir = ::testing::TempDir() + "schema_XXXXXX";
    if (!mkdtemp(&dir[0])) return Result{-1, "cannot create " + dir};
    std::string path = dir + "/bad.schema";
    FILE* f = fopen(path.c_str(), "w");
    fputs(schema.c_str(), f);
    fclose(f);
    std::string command =
        "python3 " XELMD_SOURCE_DIR "/field/gen_catalogue.py --stats --schema " + path + " 2>&1";
    Result r{0, ""};
    FILE* p = popen(command.c_str(), "r");
    char buf[512];
    while (fgets(buf, sizeof buf, p)) r.output += buf;
    r.status = pclose(p);
    remove(path.c_str());
    rmdir(dir.c_str());
    return r;
}

TEST(CatalogueGenerator, AcceptsAWellFormedSchemaAndRefusesMalformedOnes) {
    const struct {
        const char* schema;
        const char* message;  // expected in the output; the run fails unless it is the stats
    } cases[] = {
        {"type T INT32\nrecord XelAField 1\n    A T key\npacket 0x1 Nop\n",
         "1 records, 1 transactions, 1 members"},
        {"type T INT32\nrecord XelAField 1\n    A T\nrecord XelBField 0x0001\n    B T\n",
         "bad.schema:4: duplicate field id 0x0001"},
        {"packet 0x10 A\npacket 16 B\n", ":2: duplicate tid 0x0010"},
        {"type T INT33\n", ":1: unknown member type 'INT33'"},
        {"type T INT32\nrecord XelAField 1\n    A Missing\n", ":3: unknown type 'Missing'"},
        {"record XelAField 1 like XelNoField\n", "unknown record 'XelNoField'"},
    };
    for (const auto& c : cases) {
        Result r = generate(c.schema);
        EXPECT_EQ(r.status == 0, &c == &cases[0]) << c.schema << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    }
}

}  // namespace

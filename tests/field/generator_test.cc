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

TEST(CatalogueGenerator, AcceptsAWellFormedSchema) {
    Result r = generate("type T INT32\nrecord XelAField 1\n    A T key\npacket 0x1 Nop\n");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("1 records, 1 transactions, 1 members"), std::string::npos);
}

TEST(CatalogueGenerator, RefusesDuplicateIds) {
    Result r =
        generate("type T INT32\nrecord XelAField 1\n    A T\nrecord XelBField 0x0001\n    B T\n");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("bad.schema:4: duplicate field id 0x0001"), std::string::npos)
        << r.output;
    r = generate("packet 0x10 A\npacket 16 B\n");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find(":2: duplicate tid 0x0010"), std::string::npos) << r.output;
}

TEST(CatalogueGenerator, RefusesUnknownTypes) {
    Result r = generate("type T INT33\n");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find(":1: unknown member type 'INT33'"), std::string::npos) << r.output;
    r = generate("type T INT32\nrecord XelAField 1\n    A Missing\n");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find(":3: unknown type 'Missing'"), std::string::npos) << r.output;
    r = generate("record XelAField 1 like XelNoField\n");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("unknown record 'XelNoField'"), std::string::npos) << r.output;
}

}  // namespace

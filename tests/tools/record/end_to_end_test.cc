// xelmd-record as a process: clear failures for bad directories and
// addresses, and, against an xelmd-front replaying known records, a
// recording that survives SIGKILL at random moments with every packet in the
// files exactly once.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "base/csv.h"
#include "field/xelfield.h"
#include "tests/tools/record/test_util.h"
#include "tools/record/depth_text.h"

namespace {

const int TOPIC = 100;
using ToolTest::spawn;
using ToolTest::wait_exit;

// The text with $DIR replaced by dir.
std::string in_dir(std::string text, const std::string& dir) {
    for (size_t at; (at = text.find("$DIR")) != std::string::npos;) text.replace(at, 4, dir);
    return text;
}

TEST(RecordCommand, ClearErrorsForBadDirectoriesAddressesAndForeignFiles) {
    const char* table = "tools/record/commands.data";
    const std::vector<TestTable::Row> rows = TestTable::read(table);
    const std::string dir = ToolTest::temp_dir(), foreign = dir + "/100-20250912.csv";
    ToolTest::write_file(dir + "/plain", "a file, not a directory");
    ToolTest::write_file(foreign, "a,b\n1,2");
    ASSERT_EQ(rows.size() % 2, 0u);
    for (size_t i = 0; i < rows.size(); i += 2) {
        SCOPED_TRACE(TestTable::where(table, rows[i]));
        std::vector<std::string> args;
        std::istringstream in(in_dir(TestTable::text(rows[i]), dir));
        for (std::string arg; in >> arg;) args.push_back(arg);
        const std::string log = dir + "/log";
        EXPECT_EQ(wait_exit(spawn(XELMD_RECORD_BIN, args, log), 20000), 2);
        EXPECT_EQ(ToolTest::read_file(log), in_dir(TestTable::text(rows[i + 1]), dir) + "\n");
        unlink(log.c_str());
    }
    EXPECT_EQ(ToolTest::read_file(foreign), "a,b\n1,2");
    ToolTest::remove_dir(dir);
}

// The records the simulator replays (replay.csv), one per packet, in a loop:
// prices with three decimals, null cells, and instruments R0..R6 telling them
// apart.
const char* const REPLAY = XELMD_SOURCE_DIR "/tests/tools/record/replay.csv";
const int REPLAY_COUNT = 7;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class RecordEndToEnd : public ::testing::TestWithParam<Record::Format> {};

TEST_P(RecordEndToEnd, KilledAtRandomMomentsKeepsEveryPacketExactlyOnce) {
    const bool csv = GetParam() == Record::Format::CSV;
    ToolTest::FrontProcess front;
    std::string dir = front.dir;
    std::string out = dir + "/out";
    ASSERT_TRUE(front.start(XELMD_FRONT_BIN,
                            {"--rate", "200", "--topics", std::to_string(TOPIC), "--replay", REPLAY,
                             "--trading-day", "20250912", "--instruments", "1", "--quiet"}))
        << front.log();
    std::vector<std::string> args = {"--dir",      out,
                                     "--front",    front.address(),
                                     "--topic",    std::to_string(TOPIC),
                                     "--format",   csv ? "csv" : "json",
                                     "--flush-ms", "20",
                                     "--quiet"};
    std::mt19937 rng(std::random_device{}());
    const int KILLS = 6;
    for (int k = 0; k < KILLS; ++k) {
        pid_t recorder = spawn(XELMD_RECORD_BIN, args, dir + "/record.log");
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + rng() % 1200));
        kill(recorder, SIGKILL);
        waitpid(recorder, nullptr, 0);
    }
    pid_t recorder = spawn(XELMD_RECORD_BIN, args, dir + "/record.log");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(recorder, SIGTERM);
    EXPECT_EQ(wait_exit(recorder, 10000), 0) << ToolTest::read_file(dir + "/record.log");
    front.stop();

    // Expected wire records, in replay order.
    std::vector<std::string> replay = lines_of(ToolTest::read_file(REPLAY));
    RecordTest::CsvReader replay_reader;
    ASSERT_TRUE(replay_reader.head(replay[0]));
    std::vector<Field::XelDepthMarketDataField> sent(REPLAY_COUNT);
    for (int i = 0; i < REPLAY_COUNT; ++i)
        ASSERT_TRUE(replay_reader.read(replay[static_cast<size_t>(i) + 1],
                                       Field::XelDepthMarketDataField::DESC, &sent[i]));

    std::string text = ToolTest::read_file(out + "/100-20250912." + (csv ? "csv" : "jsonl"));
    std::vector<std::string> lines = lines_of(text);
    ASSERT_EQ(text.back(), '\n');
    Record::DepthText depth_text;
    RecordTest::CsvReader recorded;
    if (csv) {
        ASSERT_FALSE(lines.empty());
        ASSERT_TRUE(depth_text.read_csv_head(lines[0].c_str()));
        ASSERT_TRUE(recorded.head(lines[0]));
        lines.erase(lines.begin());
    }
    ASSERT_GT(lines.size(), 200u) << ToolTest::read_file(dir + "/record.log");
    for (size_t i = 0; i < lines.size(); ++i) {
        Record::DepthRow row;
        bool ok = csv ? depth_text.read_csv(lines[i].c_str(), row)
                      : Record::DepthText::read_json(lines[i].c_str(), row);
        ASSERT_TRUE(ok) << "line " << i << ": " << lines[i];
        // One record per packet, from the first packet on: row i is packet
        // i + 1, with no gap and no repeat.
        ASSERT_EQ(row.topic, TOPIC);
        ASSERT_EQ(row.sequence, static_cast<int>(i) + 1) << "line " << i;
        // The replayed topic opens with the first record, no synthetic one.
        const int index = static_cast<int>(i) % REPLAY_COUNT;
        ASSERT_EQ(row.depth.InstrumentID, "R" + std::to_string(index)) << lines[i];
        if (csv) {
            // Replayed again, the row is the record the simulator sent.
            Field::XelDepthMarketDataField wire;
            ASSERT_TRUE(recorded.read(lines[i], Field::XelDepthMarketDataField::DESC, &wire))
                << lines[i];
            ASSERT_TRUE(Field::XelDepthMarketDataField::DESC.equal_field(&wire, &sent[index]))
                << lines[i];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RecordEndToEnd,
                         ::testing::Values(Record::Format::CSV, Record::Format::JSON),
                         [](const ::testing::TestParamInfo<Record::Format>& param) {
                             return param.param == Record::Format::CSV ? "Csv" : "Json";
                         });

}  // namespace

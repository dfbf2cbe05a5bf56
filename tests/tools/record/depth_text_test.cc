#include "tools/record/depth_text.h"

#include <gtest/gtest.h>

#include "base/csv.h"
#include "field/xelfield.h"
#include "tests/tools/record/test_util.h"

namespace {

using Record::DepthRow;
using Record::DepthText;
using Record::Format;

// Member by member: padding bytes carry nothing.
bool same_members(const CTarnXeloDepthMarketDataField& a, const CTarnXeloDepthMarketDataField& b,
                  std::string& which) {
    const Base::FieldDesc& desc = Record::DepthText::descriptor();
    for (int i = 0; i < desc.member_count; ++i) {
        const Base::FieldDesc::MemberDesc& m = desc.members[i];
        const char* x = reinterpret_cast<const char*>(&a) + m.offset;
        const char* y = reinterpret_cast<const char*>(&b) + m.offset;
        size_t n = m.type == TYPE_STRING ? strlen(x) + 1 : static_cast<size_t>(m.size);
        if (memcmp(x, y, n) != 0) {
            which = m.name;
            return false;
        }
    }
    return true;
}

const char* const TABLE = "tools/record/depth_text.data";

// The row written out by hand in the table (topic 100, packet 42), read as
// any reader of the files would: by column name, empty cells as nulls.
DepthRow known_row() {
    RecordTest::CsvReader csv;
    DepthRow row = {100, 42, {}};
    EXPECT_TRUE(csv.head(TestTable::text(TestTable::read(TABLE, "head").at(0))));
    EXPECT_TRUE(csv.read(TestTable::text(TestTable::read(TABLE, "csv").at(0)),
                         DepthText::descriptor(), &row.depth));
    return row;
}

TEST(DepthText, KnownRowGivesTheTextWrittenByHand) {
    DepthText text;
    std::string csv, json;
    ASSERT_TRUE(text.append(Format::CSV, known_row(), csv));
    ASSERT_TRUE(text.append(Format::JSON, known_row(), json));
    const std::string got[] = {text.csv_head(), csv, json};
    const char* kinds[] = {"head", "csv", "json"};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(got[i], TestTable::text(TestTable::read(TABLE, kinds[i]).at(0)) + "\n");
}

TEST(DepthText, ExactDecimalIsShortestTextWithTheSameBits) {
    for (const TestTable::Row& row : TestTable::read(TABLE, "decimal")) {
        unsigned long bits = std::stoul(row[1], nullptr, 16);
        double value;
        memcpy(&value, &bits, sizeof value);
        char out[64];
        const bool ok = DepthText::exact_decimal(value, out, sizeof out);
        EXPECT_EQ(ok ? std::string(out) : "", row[2]) << row[1];
    }
}

// Random rows written as CSV and read back through Base::Csv and the
// descriptor, the way any reader of the files would, and as JSON lines.
TEST(DepthText, RowsReadBackBitForBit) {
    std::mt19937_64 rng(7);
    DepthText text;
    RecordTest::CsvReader csv;
    ASSERT_TRUE(csv.head(text.csv_head()));
    const int topic_column = csv.csv.get_head_index("Topic");
    const int sequence_column = csv.csv.get_head_index("SequenceNo");
    for (int i = 0; i < 3000; ++i) {
        DepthRow want = RecordTest::random_row(rng, 100 + i % 3, i + 1);
        // A value that no decimal carries (a NaN with a payload) keeps the raw
        // bytes after '@'.
        const unsigned long nan_bits = 0x7FF0000000000123UL;
        if (i == 5) memcpy(&want.depth.LastPrice, &nan_bits, sizeof nan_bits);
        for (Format format : {Format::CSV, Format::JSON}) {
            std::string line;
            ASSERT_TRUE(text.append(format, want, line));
            ASSERT_EQ(line.find('\n'), line.size() - 1);
            line.pop_back();
            DepthRow got = {};
            if (format == Format::JSON) {
                ASSERT_TRUE(DepthText::read_json(line.c_str(), got)) << line;
            } else {
                ASSERT_TRUE(csv.read(line, DepthText::descriptor(), &got.depth)) << line;
                ASSERT_TRUE(csv.csv.get_data(topic_column, got.topic));
                ASSERT_TRUE(csv.csv.get_data(sequence_column, got.sequence));
            }
            std::string which;
            ASSERT_TRUE(same_members(got.depth, want.depth, which)) << which << line;
            EXPECT_EQ(got.topic, want.topic);
            EXPECT_EQ(got.sequence, want.sequence);
        }
    }
}

// The simulator's replay reads these files into the wire record, whose
// prices are fixed-point counts of thousandths: each must come back whole.
// (Beyond about a million the fixed-point reader's nudge of 1e-9 is smaller
// than the double's spacing and a count can come back one short.)
TEST(DepthText, FixedPointReadersGetTheCountsBack) {
    DepthText text;
    RecordTest::CsvReader csv;
    ASSERT_TRUE(csv.head(text.csv_head()));
    std::mt19937_64 rng(3);
    const DepthRow known = known_row();
    for (int i = 0; i < 5000; ++i) {
        long long k = static_cast<long long>(rng() % 2000000000) - 1000000000;
        long long big = static_cast<long long>(rng() % 2000000) - 1000000;
        DepthRow row = known;
        row.depth.LastPrice = static_cast<double>(k) * 1e-3;
        row.depth.Turnover = static_cast<double>(big) * 1e-3;
        std::string line;
        ASSERT_TRUE(text.append(Format::CSV, row, line));
        line.pop_back();
        Field::XelDepthMarketDataField wire;
        ASSERT_TRUE(csv.read(line, Field::XelDepthMarketDataField::DESC, &wire)) << line;
        EXPECT_EQ(wire.LastPrice, k) << line;
        EXPECT_EQ(wire.Turnover, big) << line;
        EXPECT_EQ(wire.BidPrice1, -2250);
        EXPECT_EQ(wire.OpenPrice, INT64_MAX);  // an empty cell is null
        EXPECT_EQ(wire.SettlementID, INT32_MAX);
    }
}

TEST(DepthText, RejectsLinesThatAreNotRows) {
    DepthText text;
    std::string head = text.csv_head();
    head.pop_back();
    EXPECT_FALSE(text.read_csv_head("TradingDay,InstrumentID"));
    ASSERT_TRUE(text.read_csv_head(head.c_str()));
    DepthRow row;
    EXPECT_TRUE(text.read_csv(TestTable::text(TestTable::read(TABLE, "csv").at(0)).c_str(), row));
    for (const TestTable::Row& r : TestTable::read(TABLE, "bad_csv"))
        EXPECT_FALSE(text.read_csv(TestTable::text(r).c_str(), row)) << TestTable::where(TABLE, r);
    for (const TestTable::Row& r : TestTable::read(TABLE, "bad_json"))
        EXPECT_FALSE(DepthText::read_json(TestTable::text(r).c_str(), row))
            << TestTable::where(TABLE, r);
}

}  // namespace

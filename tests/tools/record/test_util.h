#ifndef XELMD_TESTS_TOOLS_RECORD_TEST_UTIL_H
#define XELMD_TESTS_TOOLS_RECORD_TEST_UTIL_H

#include <cfloat>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/csv.h"
#include "tests/tools/process.h"
#include "tools/record/depth_text.h"

namespace RecordTest {

// A depth record with every member set: prices as the library makes them
// (a fixed-point count times 1e-3), some raw bit patterns, some nulls.
inline Record::DepthRow random_row(std::mt19937_64& rng, int topic, int sequence) {
    Record::DepthRow row;
    memset(&row, 0, sizeof row);
    row.topic = topic;
    row.sequence = sequence;
    CTarnXeloDepthMarketDataField& d = row.depth;
    const Base::FieldDesc& desc = Record::DepthText::descriptor();
    for (int i = 0; i < desc.member_count; ++i) {
        const Base::FieldDesc::MemberDesc& m = desc.members[i];
        char* p = reinterpret_cast<char*>(&d) + m.offset;
        unsigned pick = static_cast<unsigned>(rng() % 8);
        if (m.type == TYPE_FLOAT64) {
            double v;
            if (pick == 0) {
                v = DBL_MAX;  // null
            } else if (pick == 1) {
                unsigned long bits = rng();
                memcpy(&v, &bits, sizeof v);
                if (v != v) v = -0.0;  // NaN has no decimal text; tested apart
            } else {
                v = static_cast<double>(static_cast<long>(rng() % 20000000) - 1000000) * 1e-3;
            }
            memcpy(p, &v, sizeof v);
        } else if (m.type == TYPE_INT32) {
            int v = pick == 0 ? INT_MAX : static_cast<int>(rng());
            memcpy(p, &v, sizeof v);
        } else if (m.type == TYPE_STRING) {
            int n = pick == 0 ? 0 : static_cast<int>(rng() % static_cast<unsigned>(m.size));
            for (int k = 0; k < n; ++k) p[k] = static_cast<char>('!' + rng() % 90);
            for (int k = 0; k < n; ++k)
                if (p[k] == ',') p[k] = ';';
        }
    }
    return row;
}

// Rows for (topic, packet) pairs in the given form, header first for CSV.
// The same rows each time: shorter lists give prefixes.
inline std::string rows_text(Record::Format format, int topic, const std::vector<int>& packets,
                             bool header = true) {
    Record::DepthText text;
    std::string out = format == Record::Format::CSV && header ? text.csv_head() : "";
    std::mt19937_64 rng(1);
    for (int p : packets) text.append(format, random_row(rng, topic, p), out);
    return out;
}

// Reads CSV lines through a descriptor, empty cells as nulls, the way the
// files' readers (the front's replay among them) do.
struct CsvReader {
    Base::Csv csv{false, 512};
    CsvReader() {
        for (int t = 0; t < TYPE_COUNT; ++t) csv.enable_null(static_cast<DataType>(t), true);
    }
    bool head(std::string line) {
        if (!line.empty() && line.back() == '\n') line.pop_back();
        return csv.read_head(line.c_str());
    }
    bool read(const std::string& line, const Base::FieldDesc& desc, void* record) {
        memset(record, 0, static_cast<size_t>(desc.struct_size));
        return csv.read_data(line.c_str()) && desc.from_csv(&csv, record, nullptr);
    }
};

}  // namespace RecordTest

#endif  // XELMD_TESTS_TOOLS_RECORD_TEST_UTIL_H

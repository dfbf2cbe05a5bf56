#ifndef XELMD_TESTS_TEST_TABLE_H
#define XELMD_TESTS_TEST_TABLE_H

// Test tables kept as text beside the tests (tests/<layer>/<name>.data), so
// vectors and known answers read as data that cites its source:
//
//   # SM4, GB/T 32907-2016 appendix A, example 1
//   ecb:0123456789abcdeffedcba9876543210:...:681edf34d206965e86b3e94f536e4246
//
// One row per line, fields separated by ':'; lines starting with '#' and blank
// lines are skipped. A missing file fails the test rather than running nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace TestTable {

struct Row {
    int line = 0;                     // for SCOPED_TRACE
    std::vector<std::string> fields;  // fields[0] names the kind of case
    const std::string& operator[](size_t i) const { return fields.at(i); }
    size_t size() const { return fields.size(); }
};

// path is relative to tests/, e.g. "cipher/block_cipher.data".
inline std::vector<Row> read(const std::string& path) {
    std::vector<Row> rows;
    std::ifstream in(std::string(XELMD_SOURCE_DIR) + "/tests/" + path);
    EXPECT_TRUE(in.good()) << "no test table " << path;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        if (text.empty() || text[0] == '#') continue;
        Row row;
        row.line = line;
        for (size_t start = 0;;) {
            size_t colon = text.find(':', start);
            row.fields.push_back(text.substr(start, colon - start));
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
        rows.push_back(row);
    }
    EXPECT_FALSE(rows.empty()) << "empty test table " << path;
    return rows;
}

// The rows of one kind, e.g. every "ecb" row.
inline std::vector<Row> read(const std::string& path, const std::string& kind) {
    std::vector<Row> all = read(path), some;
    for (const Row& r : all)
        if (r[0] == kind) some.push_back(r);
    EXPECT_FALSE(some.empty()) << "no '" << kind << "' rows in " << path;
    return some;
}

// A row's fields from the given one on, joined back: texts (JSON, addresses,
// times) hold ':' themselves. "\n" in a row stands for a line break.
inline std::string text(const Row& row, size_t from = 1) {
    std::string out;
    for (size_t i = from; i < row.size(); ++i) out += (i > from ? ":" : "") + row[i];
    for (size_t at; (at = out.find("\\n")) != std::string::npos;) out.replace(at, 2, "\n");
    return out;
}

// Bytes written as hex, spaces for reading only; "hh*n" is byte hh n times.
inline std::string bytes(const std::string& hex) {
    std::string b;
    for (size_t pos = 0; pos < hex.size();) {
        if (hex[pos] == ' ') {
            ++pos;
        } else if (hex[pos] == '*') {
            size_t used = 0;
            b.append(std::stoul(hex.substr(pos + 1), &used) - 1, b.back());
            pos += 1 + used;
        } else {
            b += static_cast<char>(std::stoi(hex.substr(pos, 2), nullptr, 16));
            pos += 2;
        }
    }
    return b;
}

inline std::string where(const std::string& path, const Row& row) {
    return path + ":" + std::to_string(row.line);
}

}  // namespace TestTable

#endif

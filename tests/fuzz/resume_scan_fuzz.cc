// Arbitrary bytes as a recorder file of topic 100 (CSV or JSON lines), torn
// anywhere: the repair only ever cuts the file to a prefix of itself that
// ends a line, never cuts a CSV file that does not start with its header, a repaired file needs no
// second repair and still ends with the same packet, and the directory scan repairs it the same
// way.
//
// Input: byte 0 picks the format (bit 0), the rest is the file.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/fuzz/scratch_dir.h"
#include "tools/record/resume_scanner.h"

namespace {

using Record::Format;
using Record::ResumeScanner;

const int TOPIC = 100;

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A CSV file the recorder may cut: one whose first line is a header it
// reads (with the Topic and SequenceNo columns), or a torn header (a prefix
// of its own, perhaps followed by the zeros a power cut leaves). Anything
// else is someone else's file.
bool ours(const std::string& text) {
    Record::DepthText depth;
    size_t nl = text.find('\n');
    if (nl != std::string::npos) return depth.read_csv_head(text.substr(0, nl).c_str());
    const std::string head = depth.csv_head();
    size_t end = text.find_last_not_of('\0') + 1;  // npos + 1 == 0
    return end < head.size() && head.compare(0, end, text, 0, end) == 0;
}

// One repair; the file left is the first end.length bytes of before.
ResumeScanner::FileEnd repair(const std::string& path, Format format, bool drop_last) {
    std::string before = read_all(path), error;
    ResumeScanner::FileEnd end;
    if (!ResumeScanner::repair(path, format, TOPIC, drop_last, end, error)) {
        // Only a foreign CSV header is refused, and then nothing is cut.
        if (format != Format::CSV || read_all(path) != before) abort();
        end.length = -1;
        return end;
    }
    std::string after = read_all(path);
    if (end.length != static_cast<long>(after.size()) ||
        end.length + end.dropped != static_cast<long>(before.size()) ||
        before.compare(0, after.size(), after) != 0 || (!after.empty() && after.back() != '\n') ||
        (format == Format::CSV && after != before && !ours(before)))
        abort();
    return end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    Format format = data[0] & 1 ? Format::JSON : Format::CSV;
    std::string path = scratch_dir() + "/" + ResumeScanner::file_name(TOPIC, "20250912", format);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data + 1), size - 1);

    ResumeScanner::FileEnd first = repair(path, format, false);
    if (first.length >= 0) {
        ResumeScanner::FileEnd again = repair(path, format, false);
        if (again.dropped != 0 || again.has_rows != first.has_rows ||
            again.last_sequence != first.last_sequence)
            abort();
        ResumeScanner::FileEnd dropped = repair(path, format, true);
        if (dropped.has_rows != first.has_rows ||
            (first.has_rows && dropped.last_sequence != first.last_sequence))
            abort();
    }
    // The scan makes the same repairs over the directory.
    ResumeScanner scanner;
    std::string error;
    bool scanned = scanner.scan(scratch_dir(), format, error);
    if (scanned != (first.length >= 0)) abort();
    if (scanned && scanner.latest_day() != 20250912) abort();
    unlink(path.c_str());
    return 0;
}

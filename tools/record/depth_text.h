#ifndef XELMD_TOOLS_RECORD_DEPTH_TEXT_H
#define XELMD_TOOLS_RECORD_DEPTH_TEXT_H

#include <string>
#include <vector>

#include "api/TarnXeloMduserApi.h"
#include "base/csv.h"
#include "base/field_desc.h"

namespace Record {

// One recorded row: the depth record with the topic and the sequence number
// of the packet that carried it.
struct DepthRow {
    int topic;
    int sequence;
    CTarnXeloDepthMarketDataField depth;
};

enum class Format { CSV, JSON };

// Text forms of depth rows. Columns are the members of the public depth
// record in order (named by its descriptor), then "Topic" and "SequenceNo".
// Doubles print as the shortest decimal text that reads back to the same
// bits, so a cell is exact and still a plain decimal for fixed-point readers;
// nulls are empty cells. One thread per object.
class DepthText {
  public:
    static const char* const TOPIC_COLUMN;
    static const char* const SEQUENCE_COLUMN;

    DepthText();
    DepthText(const DepthText&) = delete;
    DepthText& operator=(const DepthText&) = delete;

    // The public record's descriptor: the wire descriptor's members with
    // fixed-point members held as doubles (same offsets).
    static const Base::FieldDesc& descriptor();

    // The header line of a CSV file (with its LF).
    std::string csv_head() const;
    // Appends one line (with its LF) in the given form.
    bool append(Format format, const DepthRow& row, std::string& out);

    // Reads a CSV header line / data line (without LF) back into a row.
    bool read_csv_head(const char* line);
    bool read_csv(const char* line, DepthRow& row);
    // Reads one JSON line back into a row.
    static bool read_json(const char* line, DepthRow& row);

    // Shortest "%.{15,16,17}g" text that reads back to the same bits; false
    // (text untouched) for values no decimal text carries, such as NaN.
    static bool exact_decimal(double value, char* text, int size);
    // The same through snprintf and strtod: slower, the reference.
    static bool libc_exact_decimal(double value, char* text, int size);

  private:
    bool append_csv(const DepthRow& row, std::string& out);
    bool append_json(const DepthRow& row, std::string& out) const;
    static int member_text(const Base::FieldDesc::MemberDesc& m, const char* value, char* text,
                           int size);

    Base::Csv csv_;
    Base::Csv reader_;
    std::vector<std::string> json_keys_;  // ",\"Name\":" per member (no comma first)
};

}  // namespace Record

#endif  // XELMD_TOOLS_RECORD_DEPTH_TEXT_H

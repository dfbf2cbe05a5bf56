#ifndef XELMD_TOOLS_RECORD_ROW_WRITER_H
#define XELMD_TOOLS_RECORD_ROW_WRITER_H

#include <map>
#include <string>

#include "tools/record/depth_text.h"

namespace Record {

// Appends rows to one file per topic and trading day ("<topic>-<day>.csv" or
// ".jsonl" in the directory), keeping them in memory until flush (or until a
// file's buffer passes BATCH_BYTES), so that the disk sees a few large
// writes. CSV files start with the header line. A new file's directory entry
// is synced when it is made, and a file is synced before it is closed (a
// new trading day, the end), so a power cut never keeps a later file's rows
// while losing an earlier one's tail. One thread (the owner serialises
// callers).
class RowWriter {
  public:
    static const size_t BATCH_BYTES = 1 << 20;

    RowWriter(const std::string& dir, Format format);
    ~RowWriter();
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    // The day is the record's TradingDay when it holds 8 digits, else
    // fallback_day when that does, else "00000000".
    bool add(const DepthRow& row, const char* fallback_day, std::string& error);
    // Writes every buffered byte to its file.
    bool flush(std::string& error);
    // Flushes, then asks the disk to keep what was written.
    bool sync(std::string& error);
    // Writes, syncs and closes every file; the first error is kept.
    bool close_all(std::string& error);

    unsigned long get_rows() const { return rows_; }
    size_t get_pending() const;

    static std::string choose_day(const char* record_day, const char* fallback_day);

  private:
    struct OpenFile {
        int fd = -1;
        std::string day;
        std::string buffer;
    };
    bool open(int topic, const std::string& day, OpenFile& file, std::string& error);
    bool drain(OpenFile& file, std::string& error);
    bool close_file(OpenFile& file, std::string& error);

    std::string dir_;
    Format format_;
    DepthText text_;
    std::map<int, OpenFile> files_;  // topic -> file of its current day
    unsigned long rows_ = 0;
};

}  // namespace Record

#endif  // XELMD_TOOLS_RECORD_ROW_WRITER_H

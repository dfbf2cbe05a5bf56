#ifndef XELMD_TOOLS_RECORD_RESUME_SCANNER_H
#define XELMD_TOOLS_RECORD_RESUME_SCANNER_H

#include <map>
#include <string>
#include <vector>

#include "tools/record/depth_text.h"

namespace Record {

// Finds where each topic's recording began and where it stopped in the
// recorder's own files, and makes the files end cleanly: a torn last line
// (and any unreadable lines before it) is cut off from every file, and the
// rows of the topic's highest packet are cut too, since a kill may have come
// between two rows of one packet. That packet is then asked again, so every
// packet lands exactly once. One thread.
class ResumeScanner {
  public:
    // Name of the file of one topic and trading day: "<topic>-<day>.csv"
    // or ".jsonl".
    static std::string file_name(int topic, const char* day, Format format);
    // Parses such a name; day receives the 8-digit trading day.
    static bool parse_name(const char* name, Format format, int& topic, std::string& day);

    // Result for one file.
    struct FileEnd {
        bool has_rows = false;   // a readable row was found
        int last_sequence = 0;   // the packet number of the last readable row
        int first_sequence = 0;  // that of the first row left after the cut; 0: none
        long length = 0;         // the length the file was cut to
        long dropped = 0;        // bytes cut off
    };
    // Repairs one file; with drop_last_packet, the last packet's rows go too.
    static bool repair(const std::string& path, Format format, int topic, bool drop_last_packet,
                       FileEnd& end, std::string& error);

    // Repairs every file of the format in dir. False with error on a file
    // that cannot be read or cut.
    bool scan(const std::string& dir, Format format, std::string& error);

    // What the files hold of a topic: packets origin + 1 to position, whole.
    // The recording's merged records began at origin (no packet before the
    // first row changed them: a packet that changes a record reports it);
    // the next packet wanted is position + 1.
    struct Span {
        long origin;
        long position;
        bool operator==(const Span& o) const {
            return origin == o.origin && position == o.position;
        }
    };
    // Topics with at least one row left.
    const std::map<int, Span>& spans() const { return spans_; }
    // The newest trading day seen in a file name, 0 when none.
    int latest_day() const { return latest_day_; }
    long dropped_bytes() const { return dropped_; }

  private:
    bool scan_topic(int topic, const std::vector<std::string>& paths, Format format,
                    std::string& error);

    std::map<int, Span> spans_;
    int latest_day_ = 0;
    long dropped_ = 0;
};

}  // namespace Record

#endif  // XELMD_TOOLS_RECORD_RESUME_SCANNER_H

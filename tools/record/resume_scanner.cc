#include "tools/record/resume_scanner.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Record {

namespace {

const char* extension(Format format) {
    return format == Format::CSV ? ".csv" : ".jsonl";
}

std::string system_error(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + strerror(errno);
}

bool read_at(int fd, long offset, long length, std::string& out) {
    out.resize(static_cast<size_t>(length));
    long done = 0;
    while (done < length) {
        ssize_t n = pread(fd, &out[static_cast<size_t>(done)], static_cast<size_t>(length - done),
                          offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// Where the rows start: after the CSV header, or 0 for JSON lines. A torn or
// missing header gives -1 (the file holds no row); a header that is not ours
// is an error, since cutting someone else's file would destroy it.
bool find_data_start(int fd, long length, Format format, DepthText& text, long& start,
                     bool& foreign) {
    start = 0;
    foreign = false;
    if (format != Format::CSV) return true;
    std::string head;
    if (!read_at(fd, 0, std::min(length, 65536L), head)) return false;
    size_t nl = head.find('\n');
    if (nl == std::string::npos) {
        // A torn header is a prefix of ours (the zeros a power cut may leave
        // after it aside); any other line without an end is not ours either.
        std::string full = text.csv_head();
        size_t used = head.find_last_not_of('\0') + 1;  // npos + 1 == 0
        foreign = used >= full.size() || full.compare(0, used, head, 0, used) != 0;
        start = -1;
        return true;
    }
    head.resize(nl);
    foreign = !text.read_csv_head(head.c_str());
    start = static_cast<long>(nl) + 1;
    return true;
}

bool row_of(Format format, DepthText& text, const std::string& line, int topic, DepthRow& row) {
    bool ok = format == Format::CSV ? text.read_csv(line.c_str(), row)
                                    : DepthText::read_json(line.c_str(), row);
    return ok && row.topic == topic;
}

// The sequence of the first readable row of the topic in [from, end), where
// end is a line end; 0 when there is none.
bool first_row(int fd, long from, long end, Format format, DepthText& text, int topic,
               int& sequence) {
    sequence = 0;
    std::string buffer;
    DepthRow row;
    for (long chunk = 1L << 16; from < end;) {
        long n = std::min(chunk, end - from);
        if (!read_at(fd, from, n, buffer)) return false;
        size_t line_start = 0;
        for (size_t nl; (nl = buffer.find('\n', line_start)) != std::string::npos;
             line_start = nl + 1) {
            if (row_of(format, text, buffer.substr(line_start, nl - line_start), topic, row)) {
                sequence = row.sequence;
                return true;
            }
        }
        if (line_start == 0 && n == end - from) break;  // no line end left
        if (line_start == 0) chunk *= 2;                // a line longer than the chunk
        from += static_cast<long>(line_start);
    }
    return true;
}

}  // namespace

std::string ResumeScanner::file_name(int topic, const char* day, Format format) {
    return std::to_string(topic) + "-" + day + extension(format);
}

bool ResumeScanner::parse_name(const char* name, Format format, int& topic, std::string& day) {
    const char* dash = strchr(name, '-');
    if (dash == nullptr || dash == name || dash - name > 5) return false;
    for (const char* p = name; p < dash; ++p)
        if (*p < '0' || *p > '9') return false;
    for (int i = 1; i <= 8; ++i)
        if (dash[i] < '0' || dash[i] > '9') return false;
    if (strcmp(dash + 9, extension(format)) != 0) return false;
    topic = atoi(name);
    day.assign(dash + 1, 8);
    return topic <= 65535;
}

bool ResumeScanner::repair(const std::string& path, Format format, int topic, bool drop_last_packet,
                           FileEnd& end, std::string& error) {
    end = FileEnd();
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = system_error("cannot open", path);
        return false;
    }
    DepthText text;
    long length = lseek(fd, 0, SEEK_END);
    long start = 0;
    bool foreign = false;
    bool ok = length >= 0 && find_data_start(fd, length, format, text, start, foreign);
    if (ok && foreign) {
        close(fd);
        error = path + ": the first line is not a recorder header; the file is left alone";
        return false;
    }
    long cut = start < 0 ? 0 : length;
    std::string buffer;
    DepthRow row;
    // Read a growing tail until the lines to inspect are all inside it.
    for (long chunk = 1L << 20; ok && start >= 0; chunk *= 4) {
        long from = std::max(start, length - chunk);
        if (!read_at(fd, from, length - from, buffer)) {
            ok = false;
            break;
        }
        bool whole = from == start;  // the tail begins on a line start
        end.has_rows = false;
        size_t last_nl = buffer.rfind('\n');
        if (last_nl == std::string::npos) {
            if (!whole) continue;
            cut = start;
            break;
        }
        cut = from + static_cast<long>(last_nl) + 1;  // a torn last line goes
        bool need_more = false;
        size_t line_end = last_nl;
        for (;;) {
            size_t prev = line_end == 0 ? std::string::npos : buffer.rfind('\n', line_end - 1);
            size_t line_start = prev == std::string::npos ? 0 : prev + 1;
            if (prev == std::string::npos && !whole) {
                need_more = true;
                break;
            }
            std::string line = buffer.substr(line_start, line_end - line_start);
            bool good = row_of(format, text, line, topic, row);
            if (!end.has_rows) {
                if (good) {
                    end.has_rows = true;
                    end.last_sequence = row.sequence;
                    if (!drop_last_packet) break;
                }
                cut = from + static_cast<long>(line_start);
            } else if (good && row.sequence == end.last_sequence) {
                cut = from + static_cast<long>(line_start);
            } else {
                break;
            }
            if (line_start == 0) break;
            line_end = line_start - 1;
        }
        if (!need_more) break;
    }
    if (ok && cut < length && ftruncate(fd, cut) != 0) ok = false;
    if (ok && cut < length && fsync(fd) != 0) ok = false;
    if (ok && start >= 0) ok = first_row(fd, start, cut, format, text, topic, end.first_sequence);
    if (!ok) error = system_error("cannot read or cut", path);
    close(fd);
    end.length = cut;
    end.dropped = length - cut;
    return ok;
}

bool ResumeScanner::scan(const std::string& dir, Format format, std::string& error) {
    spans_.clear();
    latest_day_ = 0;
    dropped_ = 0;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        error = system_error("cannot list", dir);
        return false;
    }
    std::map<int, std::vector<std::string>> files;  // topic -> paths
    while (dirent* e = readdir(d)) {
        int topic;
        std::string day;
        if (!parse_name(e->d_name, format, topic, day)) continue;
        files[topic].push_back(dir + "/" + e->d_name);
        latest_day_ = std::max(latest_day_, atoi(day.c_str()));
    }
    closedir(d);
    for (const auto& entry : files)
        if (!scan_topic(entry.first, entry.second, format, error)) return false;
    return true;
}

bool ResumeScanner::scan_topic(int topic, const std::vector<std::string>& paths, Format format,
                               std::string& error) {
    // Every file loses its torn end. The highest packet may be anywhere (a
    // row without a trading day goes to the zero day's file), so it is
    // looked for in all of them.
    std::vector<FileEnd> ends(paths.size());
    int highest = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (!repair(paths[i], format, topic, false, ends[i], error)) return false;
        dropped_ += ends[i].dropped;
        if (ends[i].has_rows) highest = std::max(highest, ends[i].last_sequence);
    }
    if (highest == 0) return true;
    // The highest packet's rows go: it is asked again.
    for (size_t i = 0; i < paths.size(); ++i) {
        if (!ends[i].has_rows || ends[i].last_sequence != highest) continue;
        if (!repair(paths[i], format, topic, true, ends[i], error)) return false;
        dropped_ += ends[i].dropped;
    }
    int first = 0;
    for (const FileEnd& end : ends)
        if (end.first_sequence != 0 && (first == 0 || end.first_sequence < first))
            first = end.first_sequence;
    if (first != 0) spans_[topic] = Span{first - 1L, highest - 1L};
    return true;
}

}  // namespace Record

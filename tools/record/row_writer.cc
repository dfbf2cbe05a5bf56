#include "tools/record/row_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/record/resume_scanner.h"

namespace Record {

namespace {

bool is_day(const char* text) {
    if (text == nullptr) return false;
    for (int i = 0; i < 8; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return text[8] == '\0';
}

}  // namespace

RowWriter::RowWriter(const std::string& dir, Format format) : dir_(dir), format_(format) {}

RowWriter::~RowWriter() {
    std::string ignored;
    close_all(ignored);
}

std::string RowWriter::choose_day(const char* record_day, const char* fallback_day) {
    if (is_day(record_day)) return record_day;
    if (is_day(fallback_day)) return fallback_day;
    return "00000000";
}

bool RowWriter::open(int topic, const std::string& day, OpenFile& file, std::string& error) {
    std::string path = dir_ + "/" + ResumeScanner::file_name(topic, day.c_str(), format_);
    file.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (file.fd < 0) {
        error = "cannot open " + path + ": " + strerror(errno);
        return false;
    }
    file.day = day;
    file.buffer.clear();
    if (lseek(file.fd, 0, SEEK_END) != 0) return true;
    if (format_ == Format::CSV) file.buffer = text_.csv_head();
    // A new file's name must outlive a power cut as its rows do.
    int dir = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool synced = dir >= 0 && fsync(dir) == 0;
    if (!synced) error = "cannot sync the directory " + dir_ + ": " + strerror(errno);
    if (dir >= 0) close(dir);
    return synced;
}

bool RowWriter::close_file(OpenFile& file, std::string& error) {
    // Written and on the disk before the file is let go: rows of a later
    // file must never outlive this one's tail.
    bool ok = drain(file, error);
    if (ok && fsync(file.fd) != 0) {
        error = "cannot sync the file of day " + file.day + ": " + strerror(errno);
        ok = false;
    }
    if (close(file.fd) != 0 && ok) {
        error = "cannot close the file of day " + file.day + ": " + strerror(errno);
        ok = false;
    }
    file.fd = -1;
    return ok;
}

bool RowWriter::drain(OpenFile& file, std::string& error) {
    size_t done = 0;
    while (done < file.buffer.size()) {
        ssize_t n = write(file.fd, file.buffer.data() + done, file.buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::string("cannot write a ") + (format_ == Format::CSV ? "CSV" : "JSON") +
                    " file of day " + file.day + ": " + strerror(errno);
            file.buffer.erase(0, done);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    file.buffer.clear();
    return true;
}

bool RowWriter::add(const DepthRow& row, const char* fallback_day, std::string& error) {
    std::string day = choose_day(row.depth.TradingDay, fallback_day);
    OpenFile& file = files_[row.topic];
    if (file.fd >= 0 && file.day != day && !close_file(file, error)) return false;
    if (file.fd < 0 && !open(row.topic, day, file, error)) return false;
    if (!text_.append(format_, row, file.buffer)) {
        error = "a row of topic " + std::to_string(row.topic) + " does not convert to text";
        return false;
    }
    ++rows_;
    return file.buffer.size() < BATCH_BYTES || drain(file, error);
}

bool RowWriter::flush(std::string& error) {
    bool ok = true;
    for (auto& f : files_)
        if (f.second.fd >= 0 && !drain(f.second, error)) ok = false;
    return ok;
}

bool RowWriter::sync(std::string& error) {
    if (!flush(error)) return false;
    for (auto& f : files_) {
        if (f.second.fd >= 0 && fdatasync(f.second.fd) != 0) {
            error = "cannot sync the file of day " + f.second.day + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

bool RowWriter::close_all(std::string& error) {
    bool ok = true;
    for (auto& f : files_)
        if (f.second.fd >= 0 && !close_file(f.second, error)) ok = false;
    files_.clear();
    return ok;
}

size_t RowWriter::get_pending() const {
    size_t n = 0;
    for (const auto& f : files_) n += f.second.buffer.size();
    return n;
}

}  // namespace Record

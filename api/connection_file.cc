#include "api/connection_file.h"

#include <cstdlib>
#include <cstring>

#include "base/file.h"

namespace Api {

ConnectionFile::ConnectionFile()
    : file_(nullptr), length_(0), text_length_(0), topic_lines_(0), saved_count_(0) {
    memset(saved_, 0, sizeof saved_);
    text_[0] = '\0';
}

ConnectionFile::~ConnectionFile() {
    if (file_) fclose(file_);
}

void ConnectionFile::make_path(char* out, const char* flow_path) {
    const char* dir = flow_path && flow_path[0] ? flow_path : ".";
    snprintf(out, 256, "%s%cmd.con", dir, '/');
}

bool ConnectionFile::open(const char* path, char* trading_day, int& data_center_id) {
    if (file_) return true;
    bool exists = Base::File::is_exist(path);
    file_ = fopen(path, exists ? "r+be" : "w+be");
    if (!file_) {
        fprintf(stderr, "ERR! open file failed: [%s]\n", path);
        fflush(stderr);
        return false;
    }
    if (exists) read(trading_day, data_center_id);
    if (!Base::File::get_length(file_, length_)) length_ = 0;
    return true;
}

void ConnectionFile::read(char* trading_day, int& data_center_id) {
    char line[MAX_LINE];
    if (!Base::File::read_line(file_, line, sizeof line)) return;
    int day = 0, center = 0;
    if (sscanf(line, "%8d,%3d", &day, &center) == 2) {
        snprintf(trading_day, 9, "%8d", day);
        data_center_id = center;
    }
    while (saved_count_ < MAX_TOPICS && Base::File::read_line(file_, line, sizeof line)) {
        Saved s = {0, 0};
        if (sscanf(line, "%5hu,%10u", &s.topic, &s.count) == 2) saved_[saved_count_++] = s;
    }
}

unsigned int ConnectionFile::get_saved(int topic) const {
    unsigned short key = static_cast<unsigned short>(topic);
    // Unused slots hold topic 0 and count 0, so a lookup of topic 0 that
    // finds nothing saved still gives 0.
    for (int i = 0; i < MAX_TOPICS; ++i)
        if (saved_[i].topic == key) return saved_[i].count;
    return 0;
}

void ConnectionFile::begin(const char* trading_day, int data_center_id) {
    int day = static_cast<int>(strtol(trading_day, nullptr, 10));
    text_length_ = snprintf(text_, sizeof text_, "%8d,%3d\n", day, data_center_id);
    topic_lines_ = 0;
}

void ConnectionFile::add_topic(int topic, unsigned long count) {
    if (topic_lines_ >= MAX_TOPICS) return;
    int room = static_cast<int>(sizeof text_) - text_length_;
    int n = snprintf(text_ + text_length_, static_cast<size_t>(room), "%5d,%10u\n", topic,
                     static_cast<unsigned int>(count));
    if (n <= 0 || n >= room) return;
    text_length_ += n;
    ++topic_lines_;
}

bool ConnectionFile::write() {
    if (!file_) return false;
    if (!Base::File::set_pos(file_, 0)) return false;
    fwrite(text_, 1, static_cast<size_t>(text_length_), file_);
    fflush(file_);
    long position = 0;
    if (!Base::File::get_pos(file_, position)) return false;
    if (length_ > position) Base::File::truncate(file_);
    length_ = position;
    return true;
}

}  // namespace Api

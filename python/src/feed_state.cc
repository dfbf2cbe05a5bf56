#include "feed_state.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/record/connection_file.h"

namespace PyXelmd {

FeedState::FeedState(std::string dir) : dir_(std::move(dir)) {}

bool FeedState::load(std::string& error) {
    std::string api_dir = dir_ + "/api";
    if ((mkdir(dir_.c_str(), 0755) != 0 && errno != EEXIST) ||
        (mkdir(api_dir.c_str(), 0755) != 0 && errno != EEXIST)) {
        error = "cannot create " + api_dir + ": " + strerror(errno);
        return false;
    }
    FILE* f = fopen((dir_ + "/feed.state").c_str(), "re");
    if (f == nullptr) return true;  // a first run
    int topic, sequence, row;
    long origin;
    while (fscanf(f, "%d %ld %d %d", &topic, &origin, &sequence, &row) == 4)
        if (origin >= 0) topics_[topic] = Topic{origin, sequence, row};
    fclose(f);
    resumed_ = topics_;
    // The library keeps its trading day line; the topics start at their origins.
    std::string con = Record::ConnectionFile::path(api_dir);
    int day = 0, center = 0;
    Record::ConnectionFile::read_head(con, day, center);
    std::map<int, long> origins;
    for (auto& t : topics_) origins[t.first] = t.second.origin;
    return Record::ConnectionFile::write(con, Record::ConnectionFile::format(day, center, origins),
                                         error);
}

bool FeedState::seen(int topic, int sequence, int row) const {
    auto t = resumed_.find(topic);
    if (t == resumed_.end()) return false;
    return sequence < t->second.sequence ||
           (sequence == t->second.sequence && row <= t->second.row);
}

void FeedState::first_packet(int topic, int sequence) {
    Topic& t = topics_[topic];
    if (t.origin < 0) t.origin = sequence - 1;
}

void FeedState::handed_out(int topic, int sequence, int row) {
    Topic& t = topics_[topic];
    t.sequence = sequence;
    t.row = row;
}

bool FeedState::save(std::string& error) const {
    std::string text;
    char line[96];
    for (auto& t : topics_) {
        snprintf(line, sizeof line, "%d %ld %d %d\n", t.first, t.second.origin, t.second.sequence,
                 t.second.row);
        text += line;
    }
    return Record::ConnectionFile::write(dir_ + "/feed.state", text, error);
}

}  // namespace PyXelmd

// Arbitrary bytes as the connection file md.con, read by the API at Init
// and by the recorder's head reader. Besides never crashing: the trading
// day read is at most 8 characters, at most 64 topics are kept, and what the
// API writes back from what it read reads back to the same values, with the
// same head for both readers.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api/connection_file.h"
#include "tests/fuzz/scratch_dir.h"
#include "tools/record/connection_file.h"

namespace {

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The topics the text seems to name, at most 64 (candidates only: a
// topic the reader did not keep has no saved count).
std::vector<unsigned short> topics_in(const std::string& text) {
    std::vector<unsigned short> topics;
    for (size_t pos = text.find('\n'); pos != std::string::npos && topics.size() < 64;
         pos = text.find('\n', pos + 1)) {
        unsigned short topic;
        unsigned int count;
        if (sscanf(text.c_str() + pos + 1, "%5hu,%10u", &topic, &count) == 2)
            topics.push_back(topic);
    }
    return topics;
}

struct Reading {
    char day[9] = "";
    int center = -1000;  // "%3d" never reads this: no head
    std::vector<unsigned int> counts;
};

Reading read(const std::string& path, const std::vector<unsigned short>& topics) {
    Reading r;
    Api::ConnectionFile file;
    if (!file.open(path.c_str(), r.day, r.center)) abort();
    if (memchr(r.day, 0, sizeof r.day) == nullptr || file.get_saved_count() < 0 ||
        file.get_saved_count() > Api::ConnectionFile::MAX_TOPICS)
        abort();
    for (unsigned short t : topics) r.counts.push_back(file.get_saved(t));
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = scratch_dir() + "/md.con";
    std::string text(reinterpret_cast<const char*>(data), size);
    std::ofstream(path, std::ios::binary) << text;
    int day = 0, center = 0;
    Record::ConnectionFile::read_head(path, day, center);
    std::vector<unsigned short> topics = topics_in(text);
    Reading first = read(path, topics);

    // Written back as read, it reads back the same.
    bool head = first.center != -1000;
    {
        Api::ConnectionFile file;
        char ignored[9] = "";
        int ignored_center = 0;
        if (!file.open(path.c_str(), ignored, ignored_center)) abort();
        file.begin(head ? first.day : "0", head ? first.center : 0);
        for (size_t i = 0; i < topics.size(); ++i) file.add_topic(topics[i], first.counts[i]);
        if (!file.write() || file.get_length() != static_cast<long>(read_all(path).size())) abort();
    }
    Reading second = read(path, topics);
    if (second.counts != first.counts ||
        (head && (strcmp(first.day, second.day) != 0 || first.center != second.center)))
        abort();
    if (!Record::ConnectionFile::read_head(path, day, center) || center != second.center ||
        day != atoi(second.day))
        abort();
    unlink(path.c_str());
    return 0;
}

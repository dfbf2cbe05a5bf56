#ifndef XELMD_TOOLS_RECORD_OPTIONS_H
#define XELMD_TOOLS_RECORD_OPTIONS_H

#include <string>
#include <vector>

#include "tools/record/depth_text.h"

namespace Record {

// The recorder's command line. Plain data; one thread.
struct Options {
    // The library keeps "DIR/md.con" in 256 bytes.
    static const size_t MAX_DIR = 240;
    struct Topic {
        int id;
        bool from_now;  // where a topic with no recorded row starts
    };
    std::vector<std::string> fronts;
    std::vector<std::string> name_servers;
    std::vector<Topic> topics;
    Format format = Format::CSV;
    std::string dir;
    std::string user = "demo";
    std::string password = "demo";
    std::string participant;
    int flush_ms = 200;
    int sync_ms = 1000;
    int heartbeat = 0;
    bool quiet = false;
    bool help = false;

    // False with error for a bad option, value or address.
    bool parse(int argc, char** argv, std::string& error);
    static const char* usage();
    // "tcp://" + dotted IPv4 address + ":" + port 1..65535.
};

}  // namespace Record

#endif  // XELMD_TOOLS_RECORD_OPTIONS_H

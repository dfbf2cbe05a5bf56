#include "tools/record/options.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include "tools/common/address.h"
#include "tools/common/command_line.h"

namespace Record {

namespace {

const char* const VALUE_OPTIONS[] = {"--front",     "--name-server", "--topic",    "--format",
                                     "--dir",       "--user",        "--password", "--participant",
                                     "--heartbeat", "--flush-ms",    "--sync-ms"};

bool takes_value(const std::string& arg) {
    for (const char* o : VALUE_OPTIONS)
        if (arg == o) return true;
    return false;
}

// "/data/md/" and "/data/md" are one directory; file paths join with one '/'.
std::string without_trailing_slashes(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

// One option's value into the options; false with error set when it is
// not valid.
bool apply(Options& o, const std::string& arg, const std::string& value, std::string& error) {
    Options::Topic topic;
    if (arg == "--front" || arg == "--name-server") {
        std::string why;
        if (!ToolCommon::valid_front_address(value, why)) {
            error = arg + ": " + why + " (see --help)";
            return false;
        }
        (arg == "--front" ? o.fronts : o.name_servers).push_back(value);
    } else if (arg == "--topic" && ToolCommon::parse_topic(value, topic.id, topic.from_now)) {
        o.topics.push_back(topic);
    } else if (arg == "--format" && (value == "csv" || value == "json")) {
        o.format = value == "csv" ? Format::CSV : Format::JSON;
    } else if (arg == "--dir" && !value.empty()) {
        o.dir = without_trailing_slashes(value);
    } else if (arg == "--user") {
        o.user = value;
    } else if (arg == "--password") {
        o.password = value;
    } else if (arg == "--participant") {
        o.participant = value;
    } else if (arg == "--heartbeat" && ToolCommon::parse_int(value, 4, 181, o.heartbeat)) {
    } else if (arg == "--flush-ms" && ToolCommon::parse_int(value, 1, 60000, o.flush_ms)) {
    } else if (arg == "--sync-ms" && ToolCommon::parse_int(value, 0, 3600000, o.sync_ms)) {
    } else {
        error = "bad value " + value + " for " + arg + " (see --help)";
        return false;
    }
    return true;
}

}  // namespace

const char* Options::usage() {
    return "usage: xelmd-record --dir DIR [options]\n"
           "Records depth market data, one file per topic and trading day\n"
           "(DIR/<topic>-<day>.csv or .jsonl), and continues after a restart exactly\n"
           "where the files end.\n"
           "\n"
           "  --dir DIR                      output directory (created when missing); also\n"
           "                                 holds the connection file md.con\n"
           "  --front tcp://A.B.C.D:PORT     a front (repeatable; default\n"
           "                                 tcp://127.0.0.1:30007)\n"
           "  --name-server tcp://A.B.C.D:PORT\n"
           "                                 ask a name server for fronts (repeatable; not\n"
           "                                 with --front)\n"
           "  --topic ID[:beginning|now]     a topic (repeatable; default 100). The mode says\n"
           "                                 where a topic without recorded rows starts\n"
           "                                 (default beginning: the oldest packet the front\n"
           "                                 holds); recorded topics continue after their\n"
           "                                 last row\n"
           "  --format csv|json              CSV rows with a header, or one JSON object per\n"
           "                                 line (default csv)\n"
           "  --user ID --password PW        login (default demo / demo)\n"
           "  --participant ID               (default empty)\n"
           "  --heartbeat SECONDS            heartbeat timeout, 4 to 181 (default 10)\n"
           "  --flush-ms N                   write buffered rows at least every N ms\n"
           "                                 (default 200)\n"
           "  --sync-ms N                    ask the disk to keep them every N ms\n"
           "                                 (default 1000; 0: only when a file is closed)\n"
           "  --quiet                        no status line\n"
           "  --help                         this text\n"
           "\n"
           "Rows. A row is the library's merged record of one instrument after a packet\n"
           "(full snapshots and incremental updates merged since the recording's first\n"
           "packet), then Topic and SequenceNo (the packet number). CSV: an empty cell is\n"
           "a null. JSON: every value is a string (numbers as decimal text), a null\n"
           "member is \"\". Doubles are the shortest text that reads back to the same\n"
           "bits. Until an instrument has had a full snapshot in the recording, its\n"
           "rows hold only the members updated since (the others 0 or empty), as the\n"
           "library delivers them.\n"
           "\n"
           "Restart. A torn last row and the rows of the last packet on disk are cut\n"
           "(that packet comes again). Each recorded topic is then asked from its first\n"
           "recorded packet: the packets already on disk rebuild the merged records\n"
           "without being written, and rows go on with the next packet, equal to those\n"
           "of a recording that never stopped. The front must still hold the first\n"
           "recorded packet (xelmd-front: --keep); when it does not, or a topic's\n"
           "packets stop following on, the recorder stops with exit 1 rather than\n"
           "write rows that could differ (record on into a new directory).\n"
           "\n"
           "Exit: 0 stopped by SIGINT or SIGTERM, 1 login refused, a write failed or a\n"
           "topic cannot continue exactly, 2 bad option or directory, 3 the library\n"
           "did not start.\n";
}

bool Options::parse(int argc, char** argv, std::string& error) {
    auto take = [this](const std::string& arg, const std::string& value, std::string& why) {
        return apply(*this, arg, value, why);
    };
    if (!ToolCommon::scan_options(argc, argv, takes_value, help, quiet, take, error)) return false;
    if (help) return true;
    if (dir.empty()) {
        error = "--dir is required (see --help)";
        return false;
    }
    if (dir.size() > MAX_DIR) {
        error = "--dir is longer than " + std::to_string(MAX_DIR) + " characters";
        return false;
    }
    if (!fronts.empty() && !name_servers.empty()) {
        error = "give fronts or name servers, not both";
        return false;
    }
    if (fronts.empty() && name_servers.empty()) fronts.push_back("tcp://127.0.0.1:30007");
    if (topics.empty()) topics.push_back(Topic{100, false});
    if (topics.size() > 64) {
        error = "at most 64 topics";
        return false;
    }
    return true;
}

}  // namespace Record

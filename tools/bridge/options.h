#ifndef XELMD_TOOLS_BRIDGE_OPTIONS_H
#define XELMD_TOOLS_BRIDGE_OPTIONS_H

#include <string>
#include <vector>

namespace Bridge {

enum class PayloadFormat { JSON, BINARY };

// The bridge's command line. Plain data; one thread.
struct Options {
    // The library keeps "DIR/md.con" in 256 bytes.
    static constexpr size_t MAX_DIR = 240;
    struct Topic {
        int id;
        bool from_now;  // where a topic with no commit point in the stream starts
    };
    std::vector<std::string> fronts;
    std::vector<std::string> name_servers;
    std::vector<Topic> topics;
    std::string user = "demo";
    std::string password = "demo";
    std::string participant;
    int heartbeat = 0;
    std::vector<std::string> nats;
    std::string stream = "XELMD";
    std::string prefix = "xelmd.md";
    PayloadFormat format = PayloadFormat::JSON;
    int replicas = 1;
    long max_age = 0;    // seconds; 0: no limit
    long max_bytes = 0;  // 0: no limit
    long dup_window = 120;
    int max_inflight = 4096;
    int ack_wait_ms = 5000;
    long buffer = 262144;
    std::string metrics_host;
    int metrics_port = -1;  // -1: no metrics server
    std::string state_dir;  // empty: a private temporary directory
    bool quiet = false;
    bool help = false;

    // False with error (naming the option) for a bad option or value.
    bool parse(int argc, char** argv, std::string& error);
    static const char* usage();
};

}  // namespace Bridge

#endif  // XELMD_TOOLS_BRIDGE_OPTIONS_H

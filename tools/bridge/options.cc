#include "tools/bridge/options.h"

#include "tools/common/address.h"
#include "tools/common/command_line.h"

namespace Bridge {

namespace {

// A NATS URL the client accepts: nats:// or tls:// then host:port.
bool valid_nats_url(const std::string& text) {
    size_t scheme = text.find("://");
    if (scheme == std::string::npos) return false;
    std::string name = text.substr(0, scheme);
    if (name != "nats" && name != "tls") return false;
    std::string rest = text.substr(scheme + 3);
    size_t at = rest.rfind('@');
    if (at != std::string::npos) rest = rest.substr(at + 1);
    size_t colon = rest.rfind(':');
    int port = 0;
    return !rest.empty() && colon != 0 &&
           (colon == std::string::npos || ToolCommon::parse_port(rest.substr(colon + 1), 1, port));
}

// Tokens of a subject: non-empty, without blanks or wildcards.
bool valid_prefix(const std::string& text) {
    if (text.empty() || text.front() == '.' || text.back() == '.') return false;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c <= ' ' || c >= 0x7f || c == '*' || c == '>') return false;
        if (c == '.' && text[i + 1] == '.') return false;
    }
    return true;
}

bool valid_stream_name(const std::string& text) {
    if (text.empty() || text.size() > 64) return false;
    for (char c : text)
        if (!(isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
    return true;
}

const char* const VALUE_OPTIONS[] = {
    "--front",        "--name-server", "--topic",   "--user",      "--password",
    "--participant",  "--heartbeat",   "--nats",    "--stream",    "--prefix",
    "--format",       "--replicas",    "--max-age", "--max-bytes", "--dup-window",
    "--max-inflight", "--ack-wait",    "--buffer",  "--metrics",   "--state-dir"};

bool takes_value(const std::string& arg) {
    for (const char* o : VALUE_OPTIONS)
        if (arg == o) return true;
    return false;
}

// One option's value into the options; false when the value is not valid.
bool apply(Options& o, const std::string& arg, const std::string& value) {
    Options::Topic topic;
    ToolCommon::Address address;
    std::string unused;
    if (arg == "--front" || arg == "--name-server") {
        if (!ToolCommon::valid_front_address(value, unused)) return false;
        (arg == "--front" ? o.fronts : o.name_servers).push_back(value);
    } else if (arg == "--topic") {
        if (!ToolCommon::parse_topic(value, topic.id, topic.from_now)) return false;
        o.topics.push_back(topic);
    } else if (arg == "--user") {
        o.user = value;
    } else if (arg == "--password") {
        o.password = value;
    } else if (arg == "--participant") {
        o.participant = value;
    } else if (arg == "--heartbeat") {
        return ToolCommon::parse_int(value, 4, 181, o.heartbeat);
    } else if (arg == "--nats") {
        if (!valid_nats_url(value)) return false;
        o.nats.push_back(value);
    } else if (arg == "--stream") {
        if (!valid_stream_name(value)) return false;
        o.stream = value;
    } else if (arg == "--prefix") {
        if (!valid_prefix(value)) return false;
        o.prefix = value;
    } else if (arg == "--format") {
        if (value != "json" && value != "binary") return false;
        o.format = value == "json" ? PayloadFormat::JSON : PayloadFormat::BINARY;
    } else if (arg == "--replicas") {
        return ToolCommon::parse_int(value, 1, 5, o.replicas);
    } else if (arg == "--max-age") {
        return ToolCommon::parse_long(value, 1, 100L * 365 * 86400, o.max_age);
    } else if (arg == "--max-bytes") {
        return ToolCommon::parse_long(value, 1, 1L << 60, o.max_bytes);
    } else if (arg == "--dup-window") {
        return ToolCommon::parse_long(value, 1, 30L * 86400, o.dup_window);
    } else if (arg == "--max-inflight") {
        return ToolCommon::parse_int(value, 1, 1000000, o.max_inflight);
    } else if (arg == "--ack-wait") {
        return ToolCommon::parse_int(value, 10, 600000, o.ack_wait_ms);
    } else if (arg == "--buffer") {
        return ToolCommon::parse_long(value, 1, 100000000, o.buffer);
    } else if (arg == "--metrics") {
        if (!ToolCommon::parse_address(value, ToolCommon::AddressForm::LISTEN, address, unused))
            return false;
        o.metrics_host = address.host;
        o.metrics_port = address.port;
    } else if (arg == "--state-dir") {
        if (value.empty() || value.size() > Options::MAX_DIR) return false;
        o.state_dir = value;
    }
    return true;
}

}  // namespace

const char* Options::usage() {
    return "usage: xelmd-bridge [options]\n"
           "Logs in to a front once and publishes every depth market data update into a\n"
           "NATS JetStream stream, exactly once across restarts of the bridge and of NATS\n"
           "servers, for any number of consumers on any number of hosts.\n"
           "\n"
           "Market data:\n"
           "  --front tcp://A.B.C.D:PORT     a front (repeatable; default\n"
           "                                 tcp://127.0.0.1:30007)\n"
           "  --name-server tcp://A.B.C.D:PORT\n"
           "                                 ask a name server for fronts (repeatable; not\n"
           "                                 with --front)\n"
           "  --topic ID[:beginning|now]     a topic (repeatable; default 100). A topic with\n"
           "                                 a commit point in the stream continues after\n"
           "                                 it; the mode says where one without starts\n"
           "                                 (default beginning: the oldest packet the front\n"
           "                                 holds)\n"
           "  --user ID --password PW        login (default demo / demo)\n"
           "  --participant ID               (default empty)\n"
           "  --heartbeat SECONDS            heartbeat timeout, 4 to 181 (default 10)\n"
           "\n"
           "NATS:\n"
           "  --nats URL                     a server, nats://HOST:PORT (repeatable: the\n"
           "                                 members of a cluster; default\n"
           "                                 nats://127.0.0.1:4222)\n"
           "  --stream NAME                  JetStream stream (default XELMD)\n"
           "  --prefix P                     subject prefix (default xelmd.md); the stream's\n"
           "                                 subjects are P.>\n"
           "  --format json|binary           payload (default json)\n"
           "  --replicas N                   replicas when creating the stream, 1 to 5\n"
           "                                 (default 1)\n"
           "  --max-age SECONDS              retention by age when creating the stream\n"
           "  --max-bytes N                  retention by size when creating the stream\n"
           "                                 (default: neither; both may be given)\n"
           "  --dup-window SECONDS           de-duplication window when creating the stream\n"
           "                                 (default 120)\n"
           "  --max-inflight N               unacknowledged publishes at most (default 4096)\n"
           "  --ack-wait MS                  acknowledgement wait per message; a message\n"
           "                                 not acknowledged in time is published again\n"
           "                                 under the same id (default 5000)\n"
           "  --buffer N                     updates buffered while NATS is slow or away;\n"
           "                                 when full, the bridge leaves the front and\n"
           "                                 comes back later from the stream's commit\n"
           "                                 points (default 262144)\n"
           "\n"
           "Other:\n"
           "  --metrics ADDR:PORT            counters in the Prometheus text format on\n"
           "                                 http://ADDR:PORT/metrics\n"
           "  --state-dir DIR                where the connection file md.con is written\n"
           "                                 (default: a private temporary directory\n"
           "                                 removed at exit)\n"
           "  --quiet                        no status line\n"
           "  --help                         this text\n"
           "\n"
           "Subjects. Updates: P.<topic>.<instrument>, the topic in decimal; instrument\n"
           "id bytes other than A-Z a-z 0-9 _ - become %HH (upper-case hex), an empty id\n"
           "is %. So IF2501.C is published on P.100.IF2501%2EC. Commit points:\n"
           "P.commit.<topic>, payload {\"Topic\":\"<t>\",\"SequenceNo\":\"<seq>\"}: every\n"
           "update of the topic's packets up to seq is in the stream. Headers on each\n"
           "update: Nats-Msg-Id <topic>:<seq>:<index>, Xelmd-Topic, Xelmd-Seq,\n"
           "Xelmd-Index (the update's 0-based position inside its packet).\n"
           "\n"
           "Payload. json: the record's members then Topic and SequenceNo, every value a\n"
           "string, as xelmd-record --format json writes a line. binary: a 32-byte\n"
           "little-endian header (magic \"XB\", version 1, header length, record\n"
           "length, topic, index, packet sequence, receive time in ns) then the record.\n"
           "\n"
           "Exit: 0 stopped by SIGINT or SIGTERM after every pending publish was\n"
           "acknowledged, 1 login refused, the stream exists with other settings or a\n"
           "topic cannot continue exactly (the front renumbered packets), 2 bad option,\n"
           "3 the library did not start, 4 NATS or the stream not ready at start\n"
           "(within 10 s) or publishes not drained at exit within the drain limit (60 s).\n";
}

bool Options::parse(int argc, char** argv, std::string& error) {
    auto take = [this](const std::string& arg, const std::string& value, std::string& why) {
        if (apply(*this, arg, value)) return true;
        why = "bad value \"" + value + "\" for " + arg + " (see --help)";
        return false;
    };
    if (!ToolCommon::scan_options(argc, argv, takes_value, help, quiet, take, error)) return false;
    if (help) return true;
    if (!fronts.empty() && !name_servers.empty()) {
        error = "--front and --name-server: give fronts or name servers, not both";
        return false;
    }
    if (fronts.empty() && name_servers.empty()) fronts.push_back("tcp://127.0.0.1:30007");
    if (topics.empty()) topics.push_back(Topic{100, false});
    if (topics.size() > 64) {
        error = "--topic: at most 64 topics";
        return false;
    }
    for (size_t i = 0; i < topics.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (topics[i].id == topics[j].id) {
                error = "--topic: topic " + std::to_string(topics[i].id) + " given twice";
                return false;
            }
    if (nats.empty()) nats.push_back("nats://127.0.0.1:4222");
    return true;
}

}  // namespace Bridge

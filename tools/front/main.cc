// xelmd-front: a market-data front simulator on the library's server side.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/file.h"
#include "tools/common/address.h"
#include "tools/front/front_server.h"
#include "tools/front/name_server.h"

namespace {

const char USAGE[] =
    "usage: xelmd-front [options]\n"
    "A market-data front simulator: key exchange, login, topics of five-level\n"
    "depth data from a random walk (or a CSV replay), and scripted faults.\n"
    "\n"
    "  --listen A.B.C.D:PORT   listen there (repeatable; default 127.0.0.1:30007;\n"
    "                          port 0 takes a free port)\n"
    "  --topics ID[,ID...]     topics served, 2 to 65534 (default 100)\n"
    "  --instruments N         synthetic instruments per topic, 1 to 64 (default 4)\n"
    "  --rate N                packets per second per topic (default 50)\n"
    "  --snapshot-every N      every N-th packet is a full snapshot, the others\n"
    "                          incremental groups (default 20; 0: increments only)\n"
    "  --keep N                packets of history held per topic; older ones are\n"
    "                          released (default 90000; 0: all kept)\n"
    "  --replay FILE.csv       replay depth records on the first topic, looping\n"
    "  --key-mode MODE         none | masked | sm2 (default sm2)\n"
    "  --cipher-type N         0 none, 1 XOR, 2 DES, 3 AES-128, 4 SM4 (default 4)\n"
    "  --users FILE.json       {\"users\": [{\"user\", \"password\", \"participant\"}]}\n"
    "                          (default: every user and password accepted)\n"
    "  --terminal-key FILE     RSA private key (PEM) opening the terminal information\n"
    "                          (default: the simulator's test key when found)\n"
    "  --scenario FILE.json    scripted faults (below)\n"
    "  --name-server A.B.C.D:PORT  also answer name-server queries with the front\n"
    "                          addresses (port 0 takes a free port)\n"
    "  --announce A.B.C.D:PORT what the name server answers instead (repeatable), so\n"
    "                          one simulator can point clients at others\n"
    "  --trading-day YYYYMMDD  (default: today)\n"
    "  --seed N                random-walk seed (default 1)\n"
    "  --port-file FILE        write the front ports (and the name-server port) there\n"
    "  --quiet                 no status line, no event lines\n"
    "  --help                  this text\n"
    "\n"
    "Scenario file: {\"faults\": [{\"action\": ..., ...}, ...]}, each fault once per\n"
    "connection it hits:\n"
    "  action      drop (close the connection), stall (send nothing, heartbeats\n"
    "              included), bad_sequence (a packet numbered past the topic's\n"
    "              end), oversized_frame (a frame longer than any may be), garbage\n"
    "              (random bytes), key_error (a key the client cannot use),\n"
    "              key_refused (an error record instead of the key)\n"
    "  after       seconds, fractions allowed, from the answer to the login to the\n"
    "              fault (default 0; at most 86400); key_error and key_refused act\n"
    "              at the key exchange and take none\n"
    "  connection  the accepted connection it hits, counted from 1 since the front\n"
    "              started, reconnections included (default 1: a fault without it\n"
    "              hits the first connection only; 0: every connection)\n"
    "  seconds     how long a stall lasts, in whole seconds (default 0: until the\n"
    "              client leaves)\n"
    "  bytes       how many random bytes garbage sends, 1 to 65536 (default 64;\n"
    "              fewer than 6 send 6); other actions ignore it\n"
    "\n"
    "Exit status: 0 stopped by SIGINT or SIGTERM, 1 cannot start (a file it cannot\n"
    "read, an address it cannot listen on), 2 bad arguments.\n";

volatile sig_atomic_t g_stop = 0;

void on_signal(int) {
    g_stop = 1;
}

bool parse_int(const char* text, long low, long high, long& out) {
    char* end;
    out = strtol(text, &end, 10);
    return *text != 0 && *end == 0 && out >= low && out <= high;
}

int usage_error(const std::string& message) {
    fprintf(stderr, "xelmd-front: %s (see --help)\n", message.c_str());
    return 2;
}

int start_error(const std::string& message) {
    fprintf(stderr, "xelmd-front: %s\n", message.c_str());
    return 1;
}

bool takes_value(const std::string& option) {
    static const char* const options[] = {
        "--listen",      "--topics",   "--instruments", "--rate",  "--snapshot-every", "--keep",
        "--replay",      "--key-mode", "--cipher-type", "--users", "--terminal-key",   "--scenario",
        "--name-server", "--announce", "--trading-day", "--seed",  "--port-file"};
    for (const char* o : options)
        if (option == o) return true;
    return false;
}

// A local address; port 0 is a free port when zero_port allows it.
bool check_local(const std::string& option, const char* value, bool zero_port, std::string& error) {
    ToolCommon::Address a;
    if (!ToolCommon::parse_address(value, ToolCommon::AddressForm::LISTEN, a, error)) {
        error = option + ": " + error;
        return false;
    }
    if (a.port == 0 && !zero_port) {
        error = option + ": bad address \"" + value + "\": port 0 names no front";
        return false;
    }
    return true;
}

std::string default_key() {
    const char* candidates[] = {XELMD_FRONT_KEY_INSTALLED, XELMD_FRONT_KEY_SOURCE};
    for (const char* path : candidates)
        if (access(path, R_OK) == 0) return path;
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    Front::FrontServer::Options options;
    options.terminal_key = default_key();
    options.log = stdout;
    std::string name_server, port_file;
    std::vector<std::string> announced;
    bool listen_given = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(USAGE, stdout);
            return 0;
        }
        if (arg == "--quiet") {
            options.log = nullptr;
            continue;
        }
        if (!takes_value(arg)) return usage_error("unknown option " + arg);
        if (i + 1 >= argc) return usage_error("missing value after " + arg);
        const char* value = argv[++i];
        long n;
        std::string error;
        if ((arg == "--listen" || arg == "--name-server" || arg == "--announce") &&
            !check_local(arg, value, arg != "--announce", error))
            return usage_error(error);
        if (arg == "--listen") {
            if (!listen_given) options.listen.clear();
            listen_given = true;
            options.listen.push_back(value);
        } else if (arg == "--topics") {
            options.topics.clear();
            std::string list = value;
            size_t start = 0;
            while (start <= list.size()) {
                size_t comma = list.find(',', start);
                std::string item = list.substr(
                    start, comma == std::string::npos ? std::string::npos : comma - start);
                if (!parse_int(item.c_str(), 2, 65534, n))
                    return usage_error("bad topic \"" + item + "\"");
                if (n == 4 || n == 5)
                    return usage_error("topic " + item + " is reserved (so are 0, 1 and 65535)");
                for (int t : options.topics)
                    if (t == n) return usage_error("topic " + item + " given twice");
                if (options.topics.size() == 64) return usage_error("at most 64 topics");
                options.topics.push_back(static_cast<int>(n));
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        } else if (arg == "--instruments" && parse_int(value, 1, 64, n)) {
            options.instruments = static_cast<int>(n);
        } else if (arg == "--rate" && parse_int(value, 0, 100000, n)) {
            options.rate = static_cast<unsigned int>(n);
        } else if (arg == "--snapshot-every" && parse_int(value, 0, 1000000, n)) {
            options.snapshot_every = static_cast<int>(n);
        } else if (arg == "--keep" && parse_int(value, 0, 1000000000, n)) {
            options.keep = static_cast<unsigned long>(n);
        } else if (arg == "--seed" && parse_int(value, 0, 0x7fffffff, n)) {
            options.seed = static_cast<unsigned int>(n);
        } else if (arg == "--cipher-type" && parse_int(value, 0, 4, n)) {
            options.cipher_type = static_cast<int>(n);
        } else if (arg == "--key-mode" && Front::KeyReply::mode_from_name(value) >= 0) {
            options.key_mode =
                static_cast<Front::KeyReply::Mode>(Front::KeyReply::mode_from_name(value));
        } else if (arg == "--trading-day" && parse_int(value, 19000101, 29991231, n)) {
            options.trading_day = value;
        } else if (arg == "--replay") {
            options.replay_path = value;
        } else if (arg == "--users") {
            options.users_path = value;
        } else if (arg == "--terminal-key") {
            options.terminal_key = value;
        } else if (arg == "--scenario") {
            options.scenario_path = value;
        } else if (arg == "--name-server") {
            name_server = value;
        } else if (arg == "--announce") {
            announced.push_back(value);
        } else if (arg == "--port-file") {
            port_file = value;
        } else {
            return usage_error("bad value for " + arg + ": \"" + std::string(value) + "\"");
        }
    }

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_signal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Front::FrontServer server;
    std::string error;
    if (!server.start(options, error)) return start_error(error);
    std::vector<std::string> fronts;
    for (size_t i = 0; i < options.listen.size(); ++i) {
        std::string host = options.listen[i].substr(0, options.listen[i].rfind(':'));
        fronts.push_back(host + ":" + std::to_string(server.get_ports()[i]));
        printf("xelmd-front: listening on tcp://%s (key mode %s, cipher type %d, topics",
               fronts.back().c_str(), Front::KeyReply::get_name(options.key_mode),
               options.key_mode == Front::KeyReply::NO_CIPHER ? 0 : options.cipher_type);
        for (int t : options.topics) printf(" %d", t);
        printf(")\n");
    }
    Front::NameServer names;
    if (!name_server.empty()) {
        ToolCommon::Address a;
        ToolCommon::parse_address(name_server, ToolCommon::AddressForm::LISTEN, a, error);
        if (!names.start(a.host, a.port, announced.empty() ? fronts : announced, error)) {
            server.stop();
            return start_error(error);
        }
        printf("xelmd-front: name server on tcp://%s:%d\n", a.host.c_str(), names.get_port());
    }
    fflush(stdout);
    if (!port_file.empty()) {
        FILE* f = fopen(port_file.c_str(), "we");
        if (f == nullptr) {
            server.stop();
            return start_error("cannot write " + port_file + ": " + strerror(errno));
        }
        for (int port : server.get_ports()) fprintf(f, "%d\n", port);
        if (!name_server.empty()) fprintf(f, "%d\n", names.get_port());
        fclose(f);
    }
    while (!g_stop) usleep(100000);
    names.stop();
    server.stop();
    if (options.log != nullptr) printf("xelmd-front: stopped\n");
    return 0;
}

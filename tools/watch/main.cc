// xelmd-watch: connects to a front through the public interface, logs in,
// subscribes topics and shows the top of every book as it changes.
#include <TarnXeloMduserApi.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cfloat>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tools/common/address.h"
#include "tools/common/reason_text.h"

namespace {

const char USAGE[] =
    "usage: xelmd-watch [options]\n"
    "Connects to a market-data front, logs in, subscribes topics and shows the\n"
    "top of every book (refreshed in place on a terminal, plain lines otherwise).\n"
    "\n"
    "  --front tcp://A.B.C.D:PORT        a front (repeatable; default\n"
    "                                    tcp://127.0.0.1:30007)\n"
    "  --name-server tcp://A.B.C.D:PORT  ask a name server for the fronts (repeatable;\n"
    "                                    not with --front)\n"
    "  --topic ID                        a topic to subscribe (repeatable; default 100)\n"
    "  --resume beginning|saved|now      where each topic resumes (default now)\n"
    "  --user ID --password PW           login (default demo / demo)\n"
    "  --participant ID                  (default empty)\n"
    "  --flow-path DIR                   where the connection file md.con is kept\n"
    "                                    (made when missing); needed by --resume saved\n"
    "                                    (default: a new temporary directory under\n"
    "                                    $TMPDIR or /tmp, removed at exit)\n"
    "  --count N                         stop after N market-data updates\n"
    "  --seconds S                       stop after S seconds\n"
    "  --plain                           plain lines even on a terminal\n"
    "  --help                            this text\n"
    "A book shows \"waiting for snapshot\" until the front has sent it whole: the\n"
    "updates in between carry only what changed.\n"
    "Exit status: 0 done, 1 Init or login failed or the front answered with an\n"
    "error, 2 bad arguments, 3 no data before --seconds ran out.\n";

using Clock = std::chrono::steady_clock;

struct Row {
    double last, bid, ask;
    int bid_volume, ask_volume, volume;
    std::string time;
    unsigned long updates;
    bool changed;
    // A full snapshot has arrived since the watcher started.
    bool complete;
};

std::atomic<bool> g_stop{false};

void on_signal(int) {
    g_stop = true;
}

std::string info_text(const CTarnXeloRspInfoField* info) {
    return std::to_string(info->ErrorID) + " " + info->ErrorMsg;
}

// The callbacks (network thread) and what the display loop reads of them:
// every member below the mutex is read and written under it.
class Watch : public CTarnXeloMduserSpi {
  public:
    virtual ~Watch() = default;

    void OnFrontConnected() override {
        set_link("connected");
        connected = true;
    }
    void OnFrontDisconnected(int reason) override {
        connected = false;
        logged_in = false;
        // Release closes the connection too: nothing to report then.
        if (releasing) return;
        std::string text =
            "disconnected (reason " + ToolCommon::describe_reason(reason) + "), reconnecting";
        set_link(text);
        // Reconnection is quick: the status line alone would rarely show it.
        std::lock_guard<std::mutex> lock(mutex);
        notes_.push_back(text);
    }
    void OnHeartBeatWarning(int seconds) override {
        std::lock_guard<std::mutex> lock(mutex);
        silent_seconds_ = seconds;
        silent_since_ = Clock::now();
    }
    void OnRspError(CTarnXeloRspInfoField* info, int, bool) override {
        if (info != nullptr) fail("error response: " + info_text(info));
    }
    void OnRspUserLogin(CTarnXeloRspUserLoginField* login, CTarnXeloRspInfoField* info, int,
                        bool) override {
        if (info != nullptr && info->ErrorID != 0) {
            fail("login failed: " + info_text(info));
            return;
        }
        std::string text = "logged in";
        if (login != nullptr) text += std::string(", trading day ") + login->TradingDay;
        set_link(text);
        logged_in = true;
    }
    void OnRspQryTopic(CTarnXeloDisseminationField* d, CTarnXeloRspInfoField* info, int request,
                       bool) override {
        topic_answer("topic query", d, info, request);
    }
    void OnRspSubscribeTopic(CTarnXeloDisseminationField* d, CTarnXeloRspInfoField* info,
                             int request, bool) override {
        topic_answer("subscription", d, info, request);
    }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* d) override {
        if (d == nullptr) return;
        std::lock_guard<std::mutex> lock(mutex);
        Row& r = rows[d->InstrumentID];
        r.last = d->LastPrice;
        r.bid = d->BidPrice1;
        r.ask = d->AskPrice1;
        r.bid_volume = d->BidVolume1;
        r.ask_volume = d->AskVolume1;
        r.volume = d->Volume;
        char time[32];
        snprintf(time, sizeof time, "%s.%03d", d->UpdateTime, d->UpdateMillisec);
        r.time = time;
        ++r.updates;
        r.changed = true;
        // Updates carry only the groups that changed and never the trading
        // day; the library starts a book it has no snapshot of from zeros.
        // A snapshot carries every member, the trading day included.
        if (d->TradingDay[0] != 0) r.complete = true;
        silent_seconds_ = 0;
        messages.fetch_add(1, std::memory_order_relaxed);
    }

    // The link state, or the silence while it lasts. The library repeats
    // its warning while nothing comes; once a warning is not repeated
    // within twice the silence it reported, traffic has resumed.
    std::string status_locked(Clock::time_point now) {
        if (silent_seconds_ > 0 && now - silent_since_ > std::chrono::seconds(2 * silent_seconds_))
            silent_seconds_ = 0;
        if (silent_seconds_ == 0) return link_;
        return "silent for " + std::to_string(silent_seconds_) + " s";
    }
    std::string status() {
        std::lock_guard<std::mutex> lock(mutex);
        return status_locked(Clock::now());
    }
    std::string error() {
        std::lock_guard<std::mutex> lock(mutex);
        return error_;
    }
    // Messages for the user since the last call.
    std::vector<std::string> take_notes() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> out;
        out.swap(notes_);
        return out;
    }

    std::mutex mutex;
    std::map<std::string, Row> rows;
    std::atomic<bool> connected{false}, logged_in{false}, failed{false}, releasing{false};
    std::atomic<unsigned long> messages{0};
    // Topic by request id of the topic queries sent (main thread writes
    // them all before the first query leaves).
    std::map<int, int> queried;

  private:
    void set_link(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        link_ = text;
        silent_seconds_ = 0;
    }
    void fail(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        error_ = text;
        failed = true;
    }
    void topic_answer(const char* what, const CTarnXeloDisseminationField* d,
                      const CTarnXeloRspInfoField* info, int request) {
        if (info == nullptr || info->ErrorID == 0) return;
        auto asked = queried.find(request);
        int topic = asked != queried.end() ? asked->second : d != nullptr ? d->SequenceSeries : -1;
        std::lock_guard<std::mutex> lock(mutex);
        notes_.push_back("topic " + std::to_string(topic) + " refused by the front (" + what +
                         "): " + info_text(info));
    }

    std::string link_ = "connecting";
    int silent_seconds_ = 0;
    Clock::time_point silent_since_;
    std::string error_;
    std::vector<std::string> notes_;
};

std::string price(double v) {
    if (v >= DBL_MAX || v != v) return "-";
    char text[32];
    snprintf(text, sizeof text, "%.3f", v);
    return text;
}

void draw(Watch& w, bool terminal, double rate, double elapsed) {
    std::lock_guard<std::mutex> lock(w.mutex);
    std::string status = w.status_locked(Clock::now());
    if (terminal) {
        printf("\033[H\033[2J");
        printf("%-12s %12s %12s %8s %12s %8s %10s %14s\n", "instrument", "last", "bid", "bid vol",
               "ask", "ask vol", "volume", "updated");
        for (auto& item : w.rows) {
            const Row& r = item.second;
            if (!r.complete) {
                printf("%-12s %12s\n", item.first.c_str(), "waiting for snapshot");
                continue;
            }
            printf("%-12s %12s %12s %8d %12s %8d %10d %14s\n", item.first.c_str(),
                   price(r.last).c_str(), price(r.bid).c_str(), r.bid_volume, price(r.ask).c_str(),
                   r.ask_volume, r.volume, r.time.c_str());
        }
        printf("\n[%s] messages %lu, %.0f/s, %.0f s\n", status.c_str(), w.messages.load(), rate,
               elapsed);
    } else {
        for (auto& item : w.rows) {
            Row& r = item.second;
            if (!r.changed) continue;
            r.changed = false;
            if (!r.complete) {
                printf("%s waiting for snapshot\n", item.first.c_str());
                continue;
            }
            printf("%s last %s bid %s x %d ask %s x %d volume %d at %s\n", item.first.c_str(),
                   price(r.last).c_str(), price(r.bid).c_str(), r.bid_volume, price(r.ask).c_str(),
                   r.ask_volume, r.volume, r.time.c_str());
        }
        printf("status: %s, messages %lu, %.0f/s\n", status.c_str(), w.messages.load(), rate);
    }
    fflush(stdout);
}

bool number(const std::string& text, long low, long high, long& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 15)
        return false;
    out = strtol(text.c_str(), nullptr, 10);
    return out >= low && out <= high;
}

int usage_error(const std::string& message) {
    fprintf(stderr, "xelmd-watch: %s (see --help)\n", message.c_str());
    return 2;
}

struct Options {
    std::vector<std::string> fronts, name_servers;
    std::vector<int> topics;
    TE_RESUME_TYPE resume = TE_RESUME_FROM_NOW;
    std::string user = "demo", password = "demo", participant, flow_path;
    long count = 0, seconds = 0;
    bool plain = false;
};

bool takes_value(const std::string& option) {
    static const char* const options[] = {
        "--front",    "--name-server", "--topic",     "--resume", "--user",
        "--password", "--participant", "--flow-path", "--count",  "--seconds"};
    for (const char* o : options)
        if (option == o) return true;
    return false;
}

// One option with its value; an empty result when it is good.
std::string take(Options& o, const std::string& arg, const std::string& value) {
    long n;
    std::string error;
    if (arg == "--front" || arg == "--name-server") {
        if (!ToolCommon::valid_front_address(value, error)) return arg + ": " + error;
        (arg == "--front" ? o.fronts : o.name_servers).push_back(value);
    } else if (arg == "--topic" && number(value, 0, 65535, n)) {
        o.topics.push_back(static_cast<int>(n));
    } else if (arg == "--resume" && (value == "beginning" || value == "saved" || value == "now")) {
        o.resume = value == "beginning" ? TE_RESUME_FROM_BEGINNING
                   : value == "saved"   ? TE_RESUME_FROM_SAVED
                                        : TE_RESUME_FROM_NOW;
    } else if (arg == "--user") {
        o.user = value;
    } else if (arg == "--password") {
        o.password = value;
    } else if (arg == "--participant") {
        o.participant = value;
    } else if (arg == "--flow-path" && !value.empty()) {
        o.flow_path = value;
    } else if (arg == "--count" && number(value, 1, 1L << 40, n)) {
        o.count = n;
    } else if (arg == "--seconds" && number(value, 1, 1L << 30, n)) {
        o.seconds = n;
    } else {
        return "bad value for " + arg + ": \"" + value + "\"";
    }
    return "";
}

// 0 when the options are good, 1 for --help, else the usage error's status.
int parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(USAGE, stdout);
            return 1;
        }
        if (arg == "--plain") {
            o.plain = true;
            continue;
        }
        if (!takes_value(arg)) return usage_error("unknown option " + arg);
        if (i + 1 >= argc) return usage_error("missing value after " + arg);
        std::string error = take(o, arg, argv[++i]);
        if (!error.empty()) return usage_error(error);
    }
    if (!o.fronts.empty() && !o.name_servers.empty())
        return usage_error("give fronts or name servers, not both");
    if (o.fronts.empty() && o.name_servers.empty()) o.fronts.push_back("tcp://127.0.0.1:30007");
    if (o.topics.empty()) o.topics.push_back(100);
    if (o.user.size() > 15 || o.password.size() > 40 || o.participant.size() > 10)
        return usage_error("user at most 15, password 40, participant 10 characters");
    if (o.resume == TE_RESUME_FROM_SAVED && o.flow_path.empty())
        return usage_error(
            "--resume saved needs --flow-path (the default directory is new "
            "every run)");
    return 0;
}

// The connection file's directory: the one given (made when missing), or a
// new private one (removed at exit) so that nothing is left in the current
// directory.
bool make_flow_path(Options& o, std::string& temporary) {
    if (o.flow_path.empty()) {
        const char* base = getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base ? base : "/tmp") + "/xelmd-watch-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) {
            fprintf(stderr, "xelmd-watch: cannot make a directory %s: %s\n", pattern.c_str(),
                    strerror(errno));
            return false;
        }
        o.flow_path = temporary = pattern;
    }
    std::error_code error;
    std::filesystem::create_directories(o.flow_path, error);
    if (error) {
        fprintf(stderr, "xelmd-watch: cannot use --flow-path %s: %s\n", o.flow_path.c_str(),
                error.message().c_str());
        return false;
    }
    return true;
}

void send_login(CTarnXeloMduserApi* api, const Options& o, int& status, bool& sent) {
    CTarnXeloReqUserLoginField login;
    memset(&login, 0, sizeof login);
    snprintf(login.UserID, sizeof login.UserID, "%s", o.user.c_str());
    snprintf(login.Password, sizeof login.Password, "%s", o.password.c_str());
    snprintf(login.ParticipantID, sizeof login.ParticipantID, "%s", o.participant.c_str());
    snprintf(login.UserProductInfo, sizeof login.UserProductInfo, "xelmd-watch");
    int rc = api->ReqUserLogin(&login, 1);
    if (rc == 0) {
        sent = true;
    } else if (rc != -12) {  // -12: not connected yet; try again
        fprintf(stderr, "xelmd-watch: ReqUserLogin failed: %s\n",
                ToolCommon::describe_result(rc).c_str());
        status = 1;
    }
}

// Asks the front about one topic per pass (well under the request limits),
// so a topic it does not serve is reported rather than silently empty.
void query_topics(CTarnXeloMduserApi* api, const Options& o, size_t& next) {
    if (next >= o.topics.size()) return;
    CTarnXeloDisseminationField d;
    memset(&d, 0, sizeof d);
    d.SequenceSeries = static_cast<short>(o.topics[next]);
    int rc = api->ReqQryTopic(&d, static_cast<int>(100 + next));
    if (rc == 0)
        ++next;
    else if (rc != -2 && rc != -3)  // too many unanswered or too fast: next pass
        fprintf(stderr, "xelmd-watch: ReqQryTopic(%d) failed: %s\n", o.topics[next],
                ToolCommon::describe_result(rc).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int parsed = parse(argc, argv, o);
    if (parsed != 0) return parsed == 1 ? 0 : parsed;
    std::string temporary;
    if (!make_flow_path(o, temporary)) return 1;

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_signal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi(o.flow_path.c_str());
    Watch watch;
    for (size_t i = 0; i < o.topics.size(); ++i)
        watch.queried[static_cast<int>(100 + i)] = o.topics[i];
    api->RegisterSpi(&watch);
    for (const std::string& f : o.fronts) {
        int rc = api->RegisterFront(f.c_str());
        if (rc != 0)
            fprintf(stderr, "xelmd-watch: RegisterFront(%s) = %s\n", f.c_str(),
                    ToolCommon::describe_result(rc).c_str());
    }
    for (const std::string& n : o.name_servers) {
        int rc = api->RegisterNameServer(n.c_str());
        if (rc != 0)
            fprintf(stderr, "xelmd-watch: RegisterNameServer(%s) = %s\n", n.c_str(),
                    ToolCommon::describe_result(rc).c_str());
    }
    for (int t : o.topics) {
        int rc = api->SubscribeMarketDataTopic(t, o.resume);
        if (rc != 0)
            fprintf(stderr, "xelmd-watch: SubscribeMarketDataTopic(%d) = %s\n", t,
                    ToolCommon::describe_result(rc).c_str());
    }
    int rc = api->Init();
    if (rc != 0) {
        fprintf(stderr, "xelmd-watch: Init failed: %s\n", ToolCommon::describe_result(rc).c_str());
        if (!temporary.empty()) std::filesystem::remove_all(temporary);
        return 1;
    }

    bool terminal = !o.plain && isatty(STDOUT_FILENO);
    auto start = Clock::now();
    auto last_draw = start;
    unsigned long last_messages = 0;
    bool login_sent = false;
    size_t next_query = 0;
    int status = 0;
    while (!g_stop && status == 0) {
        usleep(50000);
        for (const std::string& note : watch.take_notes())
            fprintf(stderr, "xelmd-watch: %s\n", note.c_str());
        if (watch.failed) {
            status = 1;
            break;
        }
        if (watch.connected && !login_sent) send_login(api, o, status, login_sent);
        if (!watch.connected) login_sent = false;
        if (watch.logged_in) query_topics(api, o, next_query);
        auto now = Clock::now();
        double elapsed = std::chrono::duration<double>(now - start).count();
        double since = std::chrono::duration<double>(now - last_draw).count();
        if (since >= (terminal ? 0.25 : 1.0)) {
            unsigned long m = watch.messages.load();
            draw(watch, terminal, (m - last_messages) / since, elapsed);
            last_messages = m;
            last_draw = now;
        }
        if (o.count > 0 && watch.messages.load() >= static_cast<unsigned long>(o.count)) break;
        if (o.seconds > 0 && elapsed >= o.seconds) {
            if (watch.messages.load() == 0) {
                fprintf(stderr, "xelmd-watch: no market data within %ld s (%s)\n", o.seconds,
                        watch.status().c_str());
                status = 3;
            }
            break;
        }
    }
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    draw(watch, terminal, elapsed > 0 ? watch.messages.load() / elapsed : 0, elapsed);
    watch.releasing = true;
    api->Release();
    api->Join();
    for (const std::string& note : watch.take_notes())
        fprintf(stderr, "xelmd-watch: %s\n", note.c_str());
    if (status == 1 && !watch.error().empty())
        fprintf(stderr, "xelmd-watch: %s\n", watch.error().c_str());
    if (!temporary.empty()) std::filesystem::remove_all(temporary);
    return status;
}

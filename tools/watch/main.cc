// xelmd-watch: connects to a front through the public interface, logs in,
// subscribes topics and shows the top of every book as it changes.
#include <TarnXeloMduserApi.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cfloat>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

const char USAGE[] =
    "usage: xelmd-watch [options]\n"
    "Connects to a market-data front, logs in, subscribes topics and shows the\n"
    "top of every book (refreshed in place on a terminal, plain lines otherwise).\n"
    "\n"
    "  --front tcp://HOST:PORT         a front (repeatable; default tcp://127.0.0.1:30007)\n"
    "  --name-server tcp://HOST:PORT   ask a name server for the fronts (repeatable)\n"
    "  --topic ID                      a topic to subscribe (repeatable; default 100)\n"
    "  --resume beginning|saved|now    where each topic resumes (default now)\n"
    "  --user ID --password PW         login (default demo / demo)\n"
    "  --participant ID                (default empty)\n"
    "  --flow-path DIR                 where the connection file md.con lives (default .)\n"
    "  --count N                       stop after N market-data updates\n"
    "  --seconds S                     stop after S seconds\n"
    "  --plain                         plain lines even on a terminal\n"
    "  --help                          this text\n"
    "Exit status: 0 done, 1 Init or login failed, 2 bad arguments, 3 no data before\n"
    "--seconds ran out.\n";

struct Row {
    double last, bid, ask;
    int bid_volume, ask_volume, volume;
    std::string time;
    unsigned long updates;
    bool changed;
};

std::atomic<bool> g_stop{false};

void on_signal(int) {
    g_stop = true;
}

class Watch : public CTarnXeloMduserSpi {
  public:
    virtual ~Watch() = default;

    void OnFrontConnected() override {
        state("connected");
        connected = true;
    }
    void OnFrontDisconnected(int reason) override {
        char text[64];
        snprintf(text, sizeof text, "disconnected (reason %d), reconnecting", reason);
        state(text);
        connected = false;
        logged_in = false;
    }
    void OnHeartBeatWarning(int seconds) override {
        char text[64];
        snprintf(text, sizeof text, "silent for %d s", seconds);
        state(text);
    }
    void OnRspError(CTarnXeloRspInfoField* info, int, bool) override {
        if (info != nullptr) fail(info, "error response");
    }
    void OnRspUserLogin(CTarnXeloRspUserLoginField* login, CTarnXeloRspInfoField* info, int,
                        bool) override {
        if (info != nullptr && info->ErrorID != 0) {
            fail(info, "login failed");
            return;
        }
        logged_in = true;
        std::string text = "logged in";
        if (login != nullptr) text += std::string(", trading day ") + login->TradingDay;
        state(text.c_str());
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
        messages.fetch_add(1, std::memory_order_relaxed);
    }

    void state(const char* text) {
        std::lock_guard<std::mutex> lock(mutex);
        status = text;
    }
    void fail(const CTarnXeloRspInfoField* info, const char* what) {
        std::lock_guard<std::mutex> lock(mutex);
        char text[160];
        snprintf(text, sizeof text, "%s: %d %s", what, info->ErrorID, info->ErrorMsg);
        error = text;
        failed = true;
    }

    std::mutex mutex;
    std::map<std::string, Row> rows;
    std::string status = "connecting";
    std::string error;
    std::atomic<bool> connected{false}, logged_in{false}, failed{false};
    std::atomic<unsigned long> messages{0};
};

std::string price(double v) {
    if (v >= DBL_MAX || v != v) return "-";
    char text[32];
    snprintf(text, sizeof text, "%.3f", v);
    return text;
}

void draw(Watch& w, bool terminal, double rate, double elapsed) {
    std::lock_guard<std::mutex> lock(w.mutex);
    if (terminal) {
        printf("\033[H\033[2J");
        printf("%-12s %12s %12s %8s %12s %8s %10s %14s\n", "instrument", "last", "bid", "bid vol",
               "ask", "ask vol", "volume", "updated");
        for (auto& item : w.rows) {
            const Row& r = item.second;
            printf("%-12s %12s %12s %8d %12s %8d %10d %14s\n", item.first.c_str(),
                   price(r.last).c_str(), price(r.bid).c_str(), r.bid_volume, price(r.ask).c_str(),
                   r.ask_volume, r.volume, r.time.c_str());
        }
        printf("\n[%s] messages %lu, %.0f/s, %.0f s\n", w.status.c_str(), w.messages.load(), rate,
               elapsed);
    } else {
        for (auto& item : w.rows) {
            Row& r = item.second;
            if (!r.changed) continue;
            r.changed = false;
            printf("%s last %s bid %s x %d ask %s x %d volume %d at %s\n", item.first.c_str(),
                   price(r.last).c_str(), price(r.bid).c_str(), r.bid_volume, price(r.ask).c_str(),
                   r.ask_volume, r.volume, r.time.c_str());
        }
        printf("status: %s, messages %lu, %.0f/s\n", w.status.c_str(), w.messages.load(), rate);
    }
    fflush(stdout);
}

bool number(const char* text, long low, long high, long& out) {
    char* end;
    out = strtol(text, &end, 10);
    return *text != 0 && *end == 0 && out >= low && out <= high;
}

int usage_error(const std::string& message) {
    fprintf(stderr, "xelmd-watch: %s (see --help)\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> fronts, name_servers;
    std::vector<int> topics;
    TE_RESUME_TYPE resume = TE_RESUME_FROM_NOW;
    std::string user = "demo", password = "demo", participant, flow_path = ".";
    long count = 0, seconds = 0;
    bool plain = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(USAGE, stdout);
            return 0;
        }
        if (arg == "--plain") {
            plain = true;
            continue;
        }
        if (i + 1 >= argc) return usage_error("missing value after " + arg);
        std::string value = argv[++i];
        long n;
        if (arg == "--front") {
            fronts.push_back(value);
        } else if (arg == "--name-server") {
            name_servers.push_back(value);
        } else if (arg == "--topic" && number(value.c_str(), 0, 65535, n)) {
            topics.push_back(static_cast<int>(n));
        } else if (arg == "--resume") {
            if (value == "beginning")
                resume = TE_RESUME_FROM_BEGINNING;
            else if (value == "saved")
                resume = TE_RESUME_FROM_SAVED;
            else if (value == "now")
                resume = TE_RESUME_FROM_NOW;
            else
                return usage_error("bad --resume " + value);
        } else if (arg == "--user") {
            user = value;
        } else if (arg == "--password") {
            password = value;
        } else if (arg == "--participant") {
            participant = value;
        } else if (arg == "--flow-path") {
            flow_path = value;
        } else if (arg == "--count" && number(value.c_str(), 1, 1L << 40, n)) {
            count = n;
        } else if (arg == "--seconds" && number(value.c_str(), 1, 1L << 30, n)) {
            seconds = n;
        } else {
            return usage_error("bad option or value: " + arg + " " + value);
        }
    }
    if (fronts.empty() && name_servers.empty()) fronts.push_back("tcp://127.0.0.1:30007");
    if (topics.empty()) topics.push_back(100);
    if (user.size() > 15 || password.size() > 40 || participant.size() > 10)
        return usage_error("user at most 15, password 40, participant 10 characters");
    if (!flow_path.empty() && flow_path.back() != '/') flow_path += '/';

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_signal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi(flow_path.c_str());
    Watch watch;
    api->RegisterSpi(&watch);
    for (const std::string& f : fronts) {
        int rc = api->RegisterFront(f.c_str());
        if (rc != 0) fprintf(stderr, "xelmd-watch: RegisterFront(%s) = %d\n", f.c_str(), rc);
    }
    for (const std::string& n : name_servers) {
        int rc = api->RegisterNameServer(n.c_str());
        if (rc != 0) fprintf(stderr, "xelmd-watch: RegisterNameServer(%s) = %d\n", n.c_str(), rc);
    }
    for (int t : topics) api->SubscribeMarketDataTopic(t, resume);
    int rc = api->Init();
    if (rc != 0) {
        fprintf(stderr, "xelmd-watch: Init failed: %d\n", rc);
        return 1;
    }

    bool terminal = !plain && isatty(STDOUT_FILENO);
    auto start = std::chrono::steady_clock::now();
    auto last_draw = start;
    unsigned long last_messages = 0;
    bool login_sent = false;
    int status = 0;
    while (!g_stop) {
        usleep(50000);
        if (watch.failed) {
            status = 1;
            break;
        }
        if (watch.connected && !login_sent) {
            CTarnXeloReqUserLoginField login;
            memset(&login, 0, sizeof login);
            snprintf(login.UserID, sizeof login.UserID, "%s", user.c_str());
            snprintf(login.Password, sizeof login.Password, "%s", password.c_str());
            snprintf(login.ParticipantID, sizeof login.ParticipantID, "%s", participant.c_str());
            snprintf(login.UserProductInfo, sizeof login.UserProductInfo, "xelmd-watch");
            rc = api->ReqUserLogin(&login, 1);
            if (rc == 0) {
                login_sent = true;
            } else if (rc != -12) {  // -12: not connected yet; try again
                fprintf(stderr, "xelmd-watch: ReqUserLogin failed: %d\n", rc);
                status = 1;
                break;
            }
        }
        if (!watch.connected) login_sent = false;
        auto now = std::chrono::steady_clock::now();
        double elapsed = std::chrono::duration<double>(now - start).count();
        double since = std::chrono::duration<double>(now - last_draw).count();
        if (since >= (terminal ? 0.25 : 1.0)) {
            unsigned long m = watch.messages.load();
            draw(watch, terminal, (m - last_messages) / since, elapsed);
            last_messages = m;
            last_draw = now;
        }
        if (count > 0 && watch.messages.load() >= static_cast<unsigned long>(count)) break;
        if (seconds > 0 && elapsed >= seconds) {
            if (watch.messages.load() == 0 && count == 0) {
                fprintf(stderr, "xelmd-watch: no market data within %ld s (%s)\n", seconds,
                        watch.status.c_str());
                status = 3;
            }
            break;
        }
    }
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    draw(watch, terminal, elapsed > 0 ? watch.messages.load() / elapsed : 0, elapsed);
    if (status == 1 && !watch.error.empty())
        fprintf(stderr, "xelmd-watch: %s\n", watch.error.c_str());
    api->Release();
    api->Join();
    return status;
}

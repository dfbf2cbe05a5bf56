// api_cycler: many short lives of the API object, through the public header
// only. Each worker thread repeats: create, register, Init, requests from
// several threads while the connection comes and goes, Release while those
// threads still call, Join. Now and then a callback calls Release itself.
// A life that does not end in time is reported with every thread's stack.
//
//   api_cycler --front tcp://127.0.0.1:PORT --dir DIR --seconds N [options]
//
// Exit 0 when every life ended and every Init succeeded; 1 otherwise; 2 bad
// arguments; 4 a life hung (the watchdog's report is on stderr).
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "TarnXeloMduserApi.h"

namespace {

using Clock = std::chrono::steady_clock;
const long MAX_LIFETIME_MS = 2500;

struct Options {
    std::vector<std::string> fronts;
    std::string dead_front;  // refuses connections: the API must fail over
    std::string dir;
    int seconds = 30;
    int workers = 2;
    int request_threads = 3;
    int hang_seconds = 12;
    unsigned seed = 1;
    bool release_in_callback = true;
    bool requests_during_release = true;
};

// Counters of one kind of call: how often each result came back.
class Outcomes {
  public:
    void add(int rc) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_[rc];
    }
    long total() {
        std::lock_guard<std::mutex> lock(mutex_);
        long n = 0;
        for (const auto& c : counts_) n += c.second;
        return n;
    }
    std::string text() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string out;
        for (const auto& c : counts_)
            out += (out.empty() ? "" : ", ") + std::string("rc ") + std::to_string(c.first) + ": " +
                   std::to_string(c.second);
        return out;
    }

  private:
    std::mutex mutex_;
    std::map<int, long> counts_;
};

// The callbacks at which a life may call Release.
enum Moment { AT_CONNECTED, AT_DISCONNECTED, AT_LOGIN, AT_QUERY, AT_DEPTH, AT_ERROR, MOMENTS };
const char* const MOMENT_NAMES[MOMENTS] = {"connected", "disconnected", "login",
                                           "query",     "depth",        "error"};

enum Request { LOGIN, QUERY, SUBSCRIBE, LOGOUT, REQUESTS };
const char* const REQUEST_NAMES[REQUESTS] = {"ReqUserLogin", "ReqQryTopic", "ReqSubscribeTopic",
                                             "ReqUserLogout"};

struct Figures {
    std::atomic<long> cycles{0}, init_failures{0}, released_by_caller{0};
    std::atomic<long> released_in_callback[MOMENTS] = {};
    std::atomic<long> callbacks[MOMENTS] = {};
    std::atomic<long> heartbeat_warnings{0}, logins_ok{0};
    Outcomes release, requests[REQUESTS];
};

Figures g_figures;

// Who ended a life: the worker (caller) or a callback. Only the first claim
// calls Release, so Release runs once per life.
enum Owner { NOBODY, CALLER, CALLBACK };

class CycleSpi : public CTarnXeloMduserSpi {
  public:
    CycleSpi(CTarnXeloMduserApi* api, int release_at) : api_(api), release_at_(release_at) {}

    bool claim(Owner who) {
        int expected = NOBODY;
        return owner_.compare_exchange_strong(expected, who, std::memory_order_acq_rel);
    }
    bool released_by_callback() const { return owner_.load(std::memory_order_acquire) == CALLBACK; }

    void OnFrontConnected() override {
        at(AT_CONNECTED);
        if (released_by_callback()) return;
        CTarnXeloReqUserLoginField login;
        fill_login(login);
        g_figures.requests[LOGIN].add(api_->ReqUserLogin(&login, 1));
    }
    void OnFrontDisconnected(int) override { at(AT_DISCONNECTED); }
    void OnHeartBeatWarning(int) override { ++g_figures.heartbeat_warnings; }
    void OnRspUserLogin(CTarnXeloRspUserLoginField*, CTarnXeloRspInfoField* info, int,
                        bool) override {
        if (info != nullptr && info->ErrorID == 0) ++g_figures.logins_ok;
        at(AT_LOGIN);
    }
    void OnRspQryTopic(CTarnXeloDisseminationField*, CTarnXeloRspInfoField*, int, bool) override {
        at(AT_QUERY);
    }
    void OnRspSubscribeTopic(CTarnXeloDisseminationField*, CTarnXeloRspInfoField*, int,
                             bool) override {
        at(AT_QUERY);
    }
    void OnRspUserLogout(CTarnXeloRspUserLogoutField*, CTarnXeloRspInfoField*, int, bool) override {
        at(AT_QUERY);
    }
    void OnRspError(CTarnXeloRspInfoField*, int, bool) override { at(AT_ERROR); }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField*) override { at(AT_DEPTH); }

    static void fill_login(CTarnXeloReqUserLoginField& login) {
        memset(&login, 0, sizeof login);
        snprintf(login.UserID, sizeof login.UserID, "soak");
        snprintf(login.Password, sizeof login.Password, "soak");
        snprintf(login.UserProductInfo, sizeof login.UserProductInfo, "api_cycler");
    }

  private:
    void at(Moment moment) {
        ++g_figures.callbacks[moment];
        if (moment != release_at_ || !claim(CALLBACK)) return;
        ++g_figures.released_in_callback[moment];
        g_figures.release.add(api_->Release());
    }

    CTarnXeloMduserApi* api_;
    int release_at_;  // a Moment, or -1: never from a callback
    std::atomic<int> owner_{NOBODY};
};

// What a worker is doing, for the watchdog's report.
struct Progress {
    std::atomic<const char*> phase{"idle"};
    std::atomic<long> cycle{0};
    std::atomic<long> since_ms{0};
};

long now_ms() {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

void enter(Progress& progress, const char* phase) {
    progress.phase.store(phase, std::memory_order_relaxed);
    progress.since_ms.store(now_ms(), std::memory_order_relaxed);
}

// One application thread calling requests until told to stop; each call is
// bounded (a login may wait one second for its spacing).
void call_requests(CTarnXeloMduserApi* api, const std::atomic<bool>& stop, unsigned seed) {
    std::mt19937 random(seed);
    const int MAX_CALLS = 100000;
    for (int i = 0; i < MAX_CALLS && !stop.load(std::memory_order_acquire); ++i) {
        // Logins are rarer: each may hold the API lock for a second.
        int kind = static_cast<int>(random() % (REQUESTS + 3));
        if (kind >= REQUESTS) kind = 1 + kind % (REQUESTS - 1);
        int id = 1000 + i;
        int rc = 0;
        if (kind == LOGIN) {
            CTarnXeloReqUserLoginField login;
            CycleSpi::fill_login(login);
            rc = api->ReqUserLogin(&login, id);
        } else if (kind == LOGOUT) {
            CTarnXeloReqUserLogoutField logout;
            memset(&logout, 0, sizeof logout);
            snprintf(logout.UserID, sizeof logout.UserID, "soak");
            rc = api->ReqUserLogout(&logout, id);
        } else {
            // Topic 300 is not served: the front answers with an error.
            CTarnXeloDisseminationField d = {static_cast<short>(random() % 2 ? 100 : 300), -1};
            rc = kind == QUERY ? api->ReqQryTopic(&d, id) : api->ReqSubscribeTopic(&d, id);
        }
        g_figures.requests[kind].add(rc);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    }
}

class Worker {
  public:
    Worker(const Options& options, int index)
        : options_(options), index_(index), random_(options.seed * 7919u + index) {}

    void run(Clock::time_point deadline) {
        std::string dir = options_.dir + "/worker" + std::to_string(index_);
        mkdir(dir.c_str(), 0755);
        while (Clock::now() < deadline) life(dir);
        enter(progress_, "done");
    }
    Progress& progress() { return progress_; }

  private:
    void life(const std::string& dir) {
        progress_.cycle.fetch_add(1, std::memory_order_relaxed);
        int release_at = -1;
        if (options_.release_in_callback && random_() % 3 == 0)
            release_at = static_cast<int>(random_() % MOMENTS);
        enter(progress_, "create and register");
        CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi((dir + "/").c_str());
        CycleSpi spi(api, release_at);
        api->RegisterSpi(&spi);
        for (const std::string& f : options_.fronts) api->RegisterFront(f.c_str());
        if (!options_.dead_front.empty() && random_() % 2)
            api->RegisterFront(options_.dead_front.c_str());
        api->SubscribeMarketDataTopic(100, TE_RESUME_FROM_NOW);
        api->SetHeartbeatTimeout(4);
        if (random_() % 4 == 0) {
            api->OpenRequestLog((dir + "/requests.log").c_str());
            api->OpenResponseLog((dir + "/responses.log").c_str());
        }
        enter(progress_, "Init");
        if (api->Init() != 0) ++g_figures.init_failures;

        enter(progress_, "requests");
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < options_.request_threads; ++t)
            threads.emplace_back(call_requests, api, std::cref(stop), random_());
        // Lives of 20 ms to 2.5 s: short ones end during the key exchange
        // or the login, long ones see market data and the proxy's faults.
        long lifetime_ms = 20 + static_cast<long>(random_() % (MAX_LIFETIME_MS - 20));
        Clock::time_point end = Clock::now() + std::chrono::milliseconds(lifetime_ms);
        while (Clock::now() < end && !spi.released_by_callback())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!options_.requests_during_release) stop_requests(stop, threads);
        if (spi.claim(CALLER)) {
            enter(progress_, "Release");
            ++g_figures.released_by_caller;
            g_figures.release.add(api->Release());
        }
        // The request threads go on a little after Release has returned.
        std::this_thread::sleep_for(std::chrono::milliseconds(random_() % 10));
        stop_requests(stop, threads);
        enter(progress_, "Join");
        api->Join();
        ++g_figures.cycles;
    }

    void stop_requests(std::atomic<bool>& stop, std::vector<std::thread>& threads) {
        enter(progress_, "stopping the request threads");
        stop.store(true, std::memory_order_release);
        for (std::thread& t : threads) t.join();
        threads.clear();
    }

    const Options& options_;
    int index_;
    std::mt19937 random_;
    Progress progress_;
};

// Prints every thread's stack through gdb, when it is installed.
void print_stacks() {
    char command[160];
    snprintf(command, sizeof command,
             "gdb -p %d -batch -ex 'thread apply all bt' </dev/null 2>&1 | grep -v '^\\[' >&2",
             static_cast<int>(getpid()));
    if (system("command -v gdb >/dev/null 2>&1") == 0 && system(command) != 0)
        fprintf(stderr, "api_cycler: gdb could not print the stacks\n");
}

// A phase that lasts longer than any normal one (a life is at most 2.5 s of
// requests; Release, Join and a spaced login take about a second) is a hang.
void watch(std::vector<Worker*>& workers, const std::atomic<bool>& finished, int hang_seconds,
           Clock::time_point deadline) {
    Clock::time_point last_end =
        deadline + std::chrono::seconds(hang_seconds) + std::chrono::milliseconds(MAX_LIFETIME_MS);
    while (!finished.load(std::memory_order_acquire)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        bool late = Clock::now() > last_end;
        for (size_t i = 0; i < workers.size(); ++i) {
            Progress& p = workers[i]->progress();
            const char* phase = p.phase.load(std::memory_order_relaxed);
            long since = p.since_ms.load(std::memory_order_relaxed);
            long limit = hang_seconds * 1000L;
            if (strcmp(phase, "requests") == 0) limit += MAX_LIFETIME_MS;
            if (strcmp(phase, "done") == 0) continue;
            bool stuck = since != 0 && now_ms() - since > limit;
            if (!stuck && !late) continue;
            fprintf(stderr, "api_cycler: HANG: worker %zu, life %ld, in \"%s\" for %ld ms\n", i,
                    p.cycle.load(), phase, now_ms() - since);
            print_stacks();
            fflush(stderr);
            _exit(4);
        }
    }
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--no-release-in-callback") {
            o.release_in_callback = false;
            continue;
        }
        if (arg == "--no-requests-during-release") {
            o.requests_during_release = false;
            continue;
        }
        if (i + 1 >= argc) return false;
        std::string value = argv[++i];
        int n = atoi(value.c_str());
        if (arg == "--front") {
            o.fronts.push_back(value);
        } else if (arg == "--dead-front") {
            o.dead_front = value;
        } else if (arg == "--dir") {
            o.dir = value;
        } else if (arg == "--seconds" && n > 0) {
            o.seconds = n;
        } else if (arg == "--workers" && n > 0 && n <= 16) {
            o.workers = n;
        } else if (arg == "--threads" && n > 0 && n <= 16) {
            o.request_threads = n;
        } else if (arg == "--hang-seconds" && n > 0) {
            o.hang_seconds = n;
        } else if (arg == "--seed") {
            o.seed = static_cast<unsigned>(strtoul(value.c_str(), nullptr, 10));
        } else {
            return false;
        }
    }
    return !o.fronts.empty() && !o.dir.empty();
}

void report() {
    Figures& f = g_figures;
    long in_callback = 0;
    std::string moments;
    for (int m = 0; m < MOMENTS; ++m) {
        in_callback += f.released_in_callback[m];
        moments += std::string(m ? ", " : "") + MOMENT_NAMES[m] + " " +
                   std::to_string(f.released_in_callback[m].load());
    }
    printf(
        "api_cycler: lives %ld (Init failed %ld), Release by the caller %ld, from callbacks %ld "
        "(%s); Release results: %s\n",
        f.cycles.load(), f.init_failures.load(), f.released_by_caller.load(), in_callback,
        moments.c_str(), f.release.text().c_str());
    long requests = 0;
    for (int r = 0; r < REQUESTS; ++r) {
        requests += f.requests[r].total();
        printf("api_cycler: %s: %s\n", REQUEST_NAMES[r], f.requests[r].text().c_str());
    }
    std::string callbacks;
    for (int m = 0; m < MOMENTS; ++m)
        callbacks += std::string(m ? ", " : "") + MOMENT_NAMES[m] + " " +
                     std::to_string(f.callbacks[m].load());
    printf("api_cycler: callbacks: %s; logins accepted %ld, heartbeat warnings %ld\n",
           callbacks.c_str(), f.logins_ok.load(), f.heartbeat_warnings.load());
    // One line for the driver.
    printf(
        "api_cycler figures: lives=%ld init_failures=%ld released_in_callback=%ld requests=%ld "
        "logins=%ld\n",
        f.cycles.load(), f.init_failures.load(), in_callback, requests, f.logins_ok.load());
    fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        fprintf(stderr,
                "usage: api_cycler --front tcp://HOST:PORT [--front ...] --dir DIR [--seconds N]\n"
                "  [--dead-front tcp://HOST:PORT] [--workers N] [--threads N] [--seed N]\n"
                "  [--hang-seconds N] [--no-release-in-callback] [--no-requests-during-release]\n");
        return 2;
    }
    // Lets gdb, started by the watchdog, look at this process.
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
    mkdir(options.dir.c_str(), 0755);
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(options.seconds);
    std::vector<Worker*> workers;
    for (int i = 0; i < options.workers; ++i) workers.push_back(new Worker(options, i));
    std::atomic<bool> finished{false};
    std::thread watchdog(watch, std::ref(workers), std::cref(finished), options.hang_seconds,
                         deadline);
    std::vector<std::thread> threads;
    for (Worker* w : workers) threads.emplace_back(&Worker::run, w, deadline);
    for (std::thread& t : threads) t.join();
    finished.store(true, std::memory_order_release);
    watchdog.join();
    for (Worker* w : workers) delete w;
    report();
    return g_figures.init_failures.load() == 0 ? 0 : 1;
}

// footprint_client: an application on the public interface alone, measuring
// what one API object costs.
//
//   footprint_client memory FRONT TOPICS UPDATES [SAMPLES]
//     resident size before the API exists, after Init and login with the
//     given topics (one line per topic id in TOPICS, comma-separated), then
//     every UPDATES/SAMPLES depth updates until UPDATES have been delivered.
//   footprint_client setup FRONT RUNS
//     Init to OnFrontConnected and to OnRspUserLogin over RUNS fresh API
//     objects, each beside a raw TCP connect and one 64-byte round trip on
//     loopback (an echo thread of this process) measured just before it.
//
// Prints one JSON object per line; run.py turns them into the table.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TarnXeloMduserApi.h"

namespace {

using Clock = std::chrono::steady_clock;

// CPU seconds of the whole process (both threads), user and system.
double cpu_seconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// kB figures of /proc/self/status.
struct Status {
    long rss = 0, anon = 0, size = 0;
};

Status read_status() {
    Status s;
    FILE* f = fopen("/proc/self/status", "r");
    if (f == nullptr) return s;
    char line[256];
    while (fgets(line, sizeof line, f) != nullptr) {
        if (strncmp(line, "VmRSS:", 6) == 0) s.rss = atol(line + 6);
        if (strncmp(line, "RssAnon:", 8) == 0) s.anon = atol(line + 8);
        if (strncmp(line, "VmSize:", 7) == 0) s.size = atol(line + 7);
    }
    fclose(f);
    return s;
}

std::string status_json(const char* what, const Status& s, unsigned long updates) {
    char text[256];
    snprintf(text, sizeof text,
             "{\"kind\":\"rss\",\"at\":\"%s\",\"updates\":%lu,\"rss_kb\":%ld,\"anon_kb\":%ld,"
             "\"vm_kb\":%ld}",
             what, updates, s.rss, s.anon, s.size);
    return text;
}

class Client final : public CTarnXeloMduserSpi {
  public:
    explicit Client(CTarnXeloMduserApi* api) : api_(api) {}

    void OnFrontConnected() override {
        connected_at = Clock::now();
        CTarnXeloReqUserLoginField login;
        memset(&login, 0, sizeof login);
        snprintf(login.UserID, sizeof login.UserID, "bench");
        snprintf(login.Password, sizeof login.Password, "bench");
        snprintf(login.ParticipantID, sizeof login.ParticipantID, "P1");
        snprintf(login.UserProductInfo, sizeof login.UserProductInfo, "footprint");
        // Inside a callback the login is queued without waiting.
        if (api_->ReqUserLogin(&login, 1) != 0) fail("ReqUserLogin refused");
    }
    void OnFrontDisconnected(int reason) override {
        if (!logged_in_flag.load()) fail("disconnected before login: " + std::to_string(reason));
        disconnects.fetch_add(1);
    }
    void OnRspUserLogin(CTarnXeloRspUserLoginField*, CTarnXeloRspInfoField* info, int,
                        bool) override {
        if (info != nullptr && info->ErrorID != 0) {
            fail(std::string("login refused: ") + info->ErrorMsg);
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        logged_in_at = Clock::now();
        logged_in_flag.store(true);
        changed_.notify_all();
    }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField*) override {
        unsigned long n = depths.fetch_add(1, std::memory_order_relaxed) + 1;
        if (n >= wake_at.load(std::memory_order_relaxed)) {
            std::lock_guard<std::mutex> lock(mutex_);
            changed_.notify_all();
        }
    }

    // Waits until pred holds, a failure or the deadline; false unless pred.
    template <typename Pred>
    bool wait(double seconds, Pred pred) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));
        while (!pred() && error.empty())
            if (changed_.wait_until(lock, until) == std::cv_status::timeout) break;
        return pred();
    }

    Clock::time_point connected_at, logged_in_at;
    std::atomic<bool> logged_in_flag{false};
    std::atomic<unsigned long> depths{0};
    std::atomic<unsigned long> wake_at{~0ul};
    std::atomic<int> disconnects{0};
    std::string error;

  private:
    void fail(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (error.empty()) error = text;
        changed_.notify_all();
    }

    CTarnXeloMduserApi* api_;
    std::mutex mutex_;
    std::condition_variable changed_;
};

std::string make_flow_dir() {
    char path[] = "/tmp/xelmd-footprint-XXXXXX";
    if (mkdtemp(path) == nullptr) return "";
    return std::string(path) + "/";
}

void remove_flow_dir(const std::string& dir) {
    std::string con = dir + "md.con";
    unlink(con.c_str());
    rmdir(dir.c_str());
}

std::vector<int> parse_topics(const char* text) {
    std::vector<int> topics;
    for (const char* p = text; *p != 0;) {
        topics.push_back(atoi(p));
        p = strchr(p, ',');
        if (p == nullptr) break;
        ++p;
    }
    return topics;
}

int run_memory(const char* front, const std::vector<int>& topics, unsigned long updates,
               int samples) {
    std::string dir = make_flow_dir();
    std::vector<std::string> lines;
    lines.push_back(status_json("baseline", read_status(), 0));

    CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi(dir.c_str());
    Client client(api);
    api->RegisterSpi(&client);
    api->RegisterFront(front);
    for (int t : topics) api->SubscribeMarketDataTopic(t, TE_RESUME_FROM_NOW);
    lines.push_back(status_json("created", read_status(), 0));
    Clock::time_point start = Clock::now();
    api->Init();
    bool ok = client.wait(20, [&] { return client.logged_in_flag.load(); });
    if (ok) {
        // The first packets of each topic make its flow's first block; the
        // figure after login is taken before them where the front is slow.
        lines.push_back(status_json("login", read_status(), client.depths.load()));
        unsigned long step = updates / static_cast<unsigned long>(samples > 0 ? samples : 1);
        Clock::time_point data_start = Clock::now();
        unsigned long first = client.depths.load();
        double cpu_start = cpu_seconds();
        for (unsigned long target = step; ok && target <= updates; target += step) {
            client.wake_at.store(target);
            ok = client.wait(120, [&] { return client.depths.load() >= target; });
            if (ok) {
                char what[32];
                snprintf(what, sizeof what, "%.1fs", seconds_since(start));
                lines.push_back(status_json(what, read_status(), client.depths.load()));
            }
        }
        double elapsed = seconds_since(data_start);
        double cpu = cpu_seconds() - cpu_start;
        unsigned long delivered = client.depths.load();
        char text[200];
        snprintf(text, sizeof text,
                 "{\"kind\":\"rate\",\"updates\":%lu,\"seconds\":%.3f,\"disconnects\":%d,"
                 "\"cpu_ns_per_update\":%.0f}",
                 delivered, elapsed, client.disconnects.load(),
                 cpu * 1e9 / static_cast<double>(delivered - first > 0 ? delivered - first : 1));
        lines.push_back(text);
    }
    api->Release();
    api->Join();
    lines.push_back(status_json("released", read_status(), client.depths.load()));
    remove_flow_dir(dir);
    for (const std::string& l : lines) printf("%s\n", l.c_str());
    if (!ok)
        fprintf(stderr, "footprint_client: %s\n",
                client.error.empty() ? "timed out" : client.error.c_str());
    return ok ? 0 : 1;
}

// A loopback echo server on its own thread: one connection at a time.
class Echo {
  public:
    bool start() {
        listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            listen(listen_fd_, 16) != 0 ||
            getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return false;
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
        return true;
    }
    void stop() {
        shutdown(listen_fd_, SHUT_RDWR);
        close(listen_fd_);
        thread_.join();
    }
    // connect, send 64 bytes, read them back, close: seconds.
    double round_trip() const {
        Clock::time_point t = Clock::now();
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<unsigned short>(port_));
        char buffer[64] = {1};
        bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                  send(fd, buffer, sizeof buffer, 0) == sizeof buffer;
        size_t got = 0;
        while (ok && got < sizeof buffer) {
            ssize_t n = recv(fd, buffer + got, sizeof buffer - got, 0);
            ok = n > 0;
            if (ok) got += static_cast<size_t>(n);
        }
        close(fd);
        return ok ? seconds_since(t) : -1;
    }

  private:
    void serve() {
        for (;;) {
            int fd = accept(listen_fd_, nullptr, nullptr);
            if (fd < 0) return;
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            char buffer[256];
            ssize_t n;
            while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0)
                if (send(fd, buffer, static_cast<size_t>(n), 0) != n) break;
            close(fd);
        }
    }

    int listen_fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

int run_setup(const char* front, int runs) {
    Echo echo;
    if (!echo.start()) {
        fprintf(stderr, "footprint_client: echo server failed\n");
        return 1;
    }
    int status = 0;
    for (int i = 0; i < runs && status == 0; ++i) {
        double raw = echo.round_trip();
        std::string dir = make_flow_dir();
        CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi(dir.c_str());
        Client client(api);
        api->RegisterSpi(&client);
        api->RegisterFront(front);
        api->SubscribeMarketDataTopic(100, TE_RESUME_FROM_NOW);
        Clock::time_point start = Clock::now();
        api->Init();
        Clock::time_point init_returned = Clock::now();
        bool ok = client.wait(20, [&] { return client.logged_in_flag.load(); });
        Clock::time_point released = Clock::now();
        api->Release();
        api->Join();
        double release = seconds_since(released);
        remove_flow_dir(dir);
        if (!ok) {
            fprintf(stderr, "footprint_client: run %d: %s\n", i,
                    client.error.empty() ? "timed out" : client.error.c_str());
            status = 1;
            break;
        }
        auto us = [&](Clock::time_point t) {
            return std::chrono::duration<double, std::micro>(t - start).count();
        };
        printf(
            "{\"kind\":\"setup\",\"raw_us\":%.1f,\"init_us\":%.1f,\"connected_us\":%.1f,"
            "\"login_us\":%.1f,\"release_us\":%.1f}\n",
            raw * 1e6, us(init_returned), us(client.connected_at), us(client.logged_in_at),
            release * 1e6);
        fflush(stdout);
    }
    echo.stop();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && strcmp(argv[1], "memory") == 0)
        return run_memory(argv[2], parse_topics(argv[3]), strtoul(argv[4], nullptr, 10),
                          argc > 5 ? atoi(argv[5]) : 10);
    if (argc >= 4 && strcmp(argv[1], "setup") == 0) return run_setup(argv[2], atoi(argv[3]));
    fprintf(stderr,
            "usage: footprint_client memory FRONT TOPICS UPDATES [SAMPLES]\n"
            "       footprint_client setup FRONT RUNS\n");
    return 2;
}

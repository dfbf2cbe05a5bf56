// A hostile client against the front's server side: arbitrary bytes in
// arbitrary pieces over a loopback connection to a running front (listener,
// accepted session and channel, the front's dialogue). Whatever it sends,
// the front must answer the client's end of stream by closing the
// connection, and must then destroy its session: never crash, hang or keep
// the connection.
//
// Input: byte 0 picks the front (even: key exchange in clear, so framing,
// login and requests are reachable; odd: SM2 key replies and the terminal
// key), byte 1 the seed of the piece sizes, the rest the client's stream.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/front/front_server.h"

namespace {

using Clock = std::chrono::steady_clock;

const char USERS[] =
    "{\"users\": [{\"user\": \"demo\", \"password\": \"demo\", \"participant\": \"P01\"},"
    " {\"user\": \"u2\", \"password\": \"\"}]}";

// Two fronts for the whole run, stopped at exit.
struct Fronts {
    Front::FrontServer servers[2];
    int ports[2] = {0, 0};

    Fronts() {
        char dir[] = "/tmp/frontfuzzXXXXXX";
        if (mkdtemp(dir) == nullptr) abort();
        std::string users = std::string(dir) + "/users.json";
        FILE* f = fopen(users.c_str(), "w");
        if (f == nullptr || fputs(USERS, f) < 0 || fclose(f) != 0) abort();
        for (int i = 0; i < 2; ++i) {
            Front::FrontServer::Options options;
            options.listen = {"127.0.0.1:0"};
            options.topics = {100, 200};
            options.instruments = 2;
            options.rate = 0;  // the initial snapshots only: the run stays repeatable
            options.keep = 0;
            options.trading_day = "20250912";
            options.users_path = users;
            options.key_mode = i == 0 ? Front::KeyReply::NO_CIPHER : Front::KeyReply::SM2;
            if (i == 1)
                options.terminal_key =
                    std::string(XELMD_SOURCE_DIR) + "/tools/keys/terminal_rsa_private.pem";
            std::string error;
            if (!servers[i].start(options, error)) {
                fprintf(stderr, "front: %s\n", error.c_str());
                abort();
            }
            ports[i] = servers[i].get_ports()[0];
        }
        unlink(users.c_str());
        rmdir(dir);
    }
};

Fronts& fronts() {
    static Fronts* f = new Fronts();
    static const int stopped = atexit([] {
        for (auto& s : fronts().servers) s.stop();
    });
    (void)stopped;
    return *f;
}

int connect_to(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) abort();
    return fd;
}

// Reads what is waiting; false once the front has closed.
bool drain(int fd, int wait_ms) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0) return true;
    char sink[65536];
    ssize_t n = recv(fd, sink, sizeof sink, MSG_DONTWAIT);
    return n > 0 || (n < 0 && errno == EAGAIN);
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 100000) return 0;
    Fronts& f = fronts();
    Front::FrontServer& server = f.servers[data[0] & 1];
    int fd = connect_to(f.ports[data[0] & 1]);

    unsigned int seed = data[1] | 1u;
    const uint8_t* stream = data + 2;
    size_t left = size - 2;
    bool open = true;
    while (left > 0 && open) {
        seed = seed * 1103515245u + 12345u;
        size_t piece = std::min<size_t>(left, 1 + (seed >> 16) % (seed & 0x100 ? 4000 : 13));
        ssize_t sent = send(fd, stream, piece, MSG_NOSIGNAL | MSG_DONTWAIT);
        bool sending = sent > 0 || errno == EAGAIN;
        if (sent > 0) {
            stream += sent;
            left -= static_cast<size_t>(sent);
        }
        // The front may close on a bad frame: the rest is not sent.
        open = sending && drain(fd, sent > 0 ? 0 : 1);
    }
    shutdown(fd, SHUT_WR);
    Clock::time_point start = Clock::now();
    while (open) {
        if (seconds_since(start) > 5) {
            fprintf(stderr, "the front kept the connection after the client's end\n");
            abort();
        }
        open = drain(fd, 50);
    }
    close(fd);
    // The session goes on the front's thread after the close.
    while (server.get_client_count() != 0) {
        if (seconds_since(start) > 5) {
            fprintf(stderr, "the front kept a session of a closed connection\n");
            abort();
        }
        usleep(100);
    }
    return 0;
}

#include "tools/bridge/metrics_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Bridge {

namespace {

const int POLL_MS = 200;

void write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

MetricsServer::~MetricsServer() {
    stop();
}

bool MetricsServer::start(const std::string& host, int port, std::string& error) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t size = sizeof address;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listen_fd_, 16) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        error = "--metrics: cannot listen on " + host + ":" + std::to_string(port) + ": " +
                strerror(errno);
        if (listen_fd_ >= 0) close(listen_fd_);
        listen_fd_ = -1;
        return false;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread(&MetricsServer::run, this);
    return true;
}

void MetricsServer::stop() {
    quit_.store(true);
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
}

void MetricsServer::run() {
    while (!quit_.load()) {
        pollfd p = {listen_fd_, POLLIN, 0};
        if (poll(&p, 1, POLL_MS) <= 0) continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        answer(fd);
        close(fd);
    }
}

// Reads the request head (bounded in size and time), then answers.
void MetricsServer::answer(int fd) {
    timeval timeout = {2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string request;
    char buffer[1024];
    while (request.size() < 8192 && request.find("\r\n\r\n") == std::string::npos &&
           request.find("\n\n") == std::string::npos) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
    }
    bool metrics = request.compare(0, 13, "GET /metrics ") == 0 ||
                   request.compare(0, 14, "GET /metrics\r\n") == 0;
    std::string body = metrics ? render_() : "not found; try /metrics\n";
    std::string head = metrics ? "HTTP/1.0 200 OK\r\n"
                                 "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
                               : "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\n";
    head += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    write_all(fd, head + body);
}

}  // namespace Bridge

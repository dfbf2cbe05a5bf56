#include "tools/front/name_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Front {

bool NameServer::start(const std::string& host, int port, const std::vector<std::string>& fronts,
                       std::string& error) {
    answer_.clear();
    for (const std::string& f : fronts) answer_ += "tcp://" + f + "\r\n";
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        error = "bad name-server host " + host;
        return false;
    }
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t length = sizeof address;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd_, 64) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + strerror(errno);
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        return false;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread(&NameServer::run, this);
    return true;
}

void NameServer::run() {
    while (!stopping_.load(std::memory_order_relaxed)) {
        pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        ssize_t sent = send(client, answer_.data(), answer_.size(), MSG_NOSIGNAL);
        if (sent == static_cast<ssize_t>(answer_.size()))
            answered_.fetch_add(1, std::memory_order_relaxed);
        close(client);
    }
}

void NameServer::stop() {
    if (fd_ < 0) return;
    stopping_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
    close(fd_);
    fd_ = -1;
}

}  // namespace Front

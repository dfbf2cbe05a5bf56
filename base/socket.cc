#include "base/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Base {

namespace {

const int DEFAULT_CONNECT_TIMEOUT = 500;

sockaddr_in make_address(const char* host, int port) {
    sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr(host != nullptr ? host : "");
    addr.sin_port = htons(static_cast<unsigned short>(port));
    return addr;
}

// Waits for one event of the given kind on a private epoll instance.
int wait_for(int fd, unsigned int events, int timeout) {
    int ep = epoll_create1(EPOLL_CLOEXEC);
    if (ep < 0) return -1;
    epoll_event ev;
    memset(&ev, 0, sizeof(ev));
    ev.events = events;
    ev.data.fd = fd;
    int result = -1;
    if (epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) == 0) {
        epoll_event got;
        int n = epoll_wait(ep, &got, 1, timeout);
        if (n > 0)
            result = (got.events & events) != 0 ? 1 : 0;
        else
            result = n == 0 ? 0 : -1;
    }
    ::close(ep);
    return result;
}

bool set_int_option(int fd, int level, int name, int value) {
    return setsockopt(fd, level, name, &value, sizeof(value)) == 0;
}

// The pending error of a connect; errno when it cannot even be read.
int socket_error(int fd) {
    int error = 0;
    unsigned int length = sizeof(error);
    if (Socket::get_option(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

// Close-on-exec, so a child process of the application never inherits a
// connection.
int new_tcp_socket() {
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
}

int get_end(int fd, char* address, bool local) {
    sockaddr_in addr;
    socklen_t length = sizeof(addr);
    memset(&addr, 0, sizeof(addr));
    int rc = local ? getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length)
                   : getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    if (rc != 0 || addr.sin_family != AF_INET) return -1;
    if (inet_ntop(AF_INET, &addr.sin_addr, address, 16) == nullptr) return -1;
    return ntohs(addr.sin_port);
}

}  // namespace

Socket::~Socket() {
    Socket::close();
}

void Socket::open(int fd) {
    fd_ = fd;
}

void Socket::close() {
    // The descriptor is released whatever close reports; nothing to retry.
    if (fd_ != 0) ::close(fd_);
    fd_ = 0;
}

int Socket::listen(int backlog) {
    return ::listen(fd_, backlog);
}

int Socket::accept() {
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

bool Socket::connect(const char* host, int port) {
    sockaddr_in addr = make_address(host, port);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
}

bool Socket::bind(const char* host, int port) {
    sockaddr_in addr = make_address(host, port);
    return ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
}

int Socket::select_read(int fd, int timeout) {
    return wait_for(fd, EPOLLIN, timeout);
}

int Socket::select_write(int fd, int timeout) {
    return wait_for(fd, EPOLLOUT, timeout);
}

bool Socket::set_blocking(int fd, bool blocking) {
    int value = blocking ? 0 : 1;
    return ioctl(fd, FIONBIO, &value) == 0;
}

int Socket::get_option(int fd, int level, int name, void* value, unsigned int* length) {
    if (length == nullptr) return -1;
    socklen_t n = *length;
    int rc = getsockopt(fd, level, name, value, &n);
    *length = n;
    return rc;
}

int Socket::get_option(int level, int name, void* value, unsigned int* length) {
    return get_option(fd_, level, name, value, length);
}

char* Socket::get_address_port(char* text, int& port) {
    if (text == nullptr) return nullptr;
    char* colon = strchr(text, ':');
    if (colon == nullptr) return nullptr;
    *colon = '\0';
    port = static_cast<int>(strtol(colon + 1, nullptr, 10));
    return text;
}

TcpSocket::TcpSocket() : local_port_(0), remote_port_(0), adopted_(false) {
    memset(local_address_, 0, sizeof(local_address_));
    memset(remote_address_, 0, sizeof(remote_address_));
}

bool TcpSocket::open() {
    memset(remote_address_, 0, sizeof(remote_address_));
    remote_port_ = 0;
    close();
    int fd = new_tcp_socket();
    if (fd < 1) {
        if (fd == 0) ::close(fd);
        fd_ = 0;
        return false;
    }
    fd_ = fd;
    // A socket that refuses its options is not the one asked for.
    if (!set_int_option(fd_, SOL_SOCKET, SO_REUSEADDR, 1) ||
        !set_int_option(fd_, IPPROTO_TCP, TCP_NODELAY, 1)) {
        close();
        return false;
    }
    return true;
}

void TcpSocket::open(int fd) {
    fd_ = fd;
    // The result is not needed: an adopted descriptor that is not TCP (a
    // local socket pair) refuses the option and works without it.
    (void)set_int_option(fd_, IPPROTO_TCP, TCP_NODELAY, 1);
    get_address();
    adopted_ = true;
}

int TcpSocket::listen(int backlog) {
    int rc = ::listen(fd_, backlog);
    get_address();
    return rc;
}

bool TcpSocket::connect(const char* host, int port, int timeout) {
    if (fd_ == 0) return false;
    if (!connect(fd_, host, port, timeout)) return false;
    get_address();
    return true;
}

bool TcpSocket::connect(int fd, const char* host, int port, int timeout) {
    // A descriptor that cannot go non-blocking would make the timeout void.
    if (fd == 0 || !set_blocking(fd, false)) return false;
    sockaddr_in addr = make_address(host, port);
    int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    bool ok = rc == 0;
    if (rc == -1 && errno == EINPROGRESS) {
        if (timeout <= 0) timeout = DEFAULT_CONNECT_TIMEOUT;
        ok = select_write(fd, timeout) == 1 && socket_error(fd) == 0;
    }
    return set_blocking(fd, true) && ok;
}

bool TcpSocket::try_connect(const char* host, int port) {
    if (fd_ == 0 || !set_blocking(fd_, false)) return false;
    sockaddr_in addr = make_address(host, port);
    int rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    return rc == 0 || errno == EINPROGRESS;
}

bool TcpSocket::check_connect() {
    if (fd_ == 0) return false;
    if (select_write(fd_, 0) < 1) return false;
    bool ok = socket_error(fd_) == 0;
    if (ok) get_address();
    return set_blocking(fd_, true) && ok;
}

int TcpSocket::get_local(int fd, char* address) {
    return get_end(fd, address, true);
}

int TcpSocket::get_remote(int fd, char* address) {
    return get_end(fd, address, false);
}

void TcpSocket::get_address() {
    if (fd_ == 0) return;
    local_port_ = get_local(fd_, local_address_);
    if (local_port_ < 0) {
        local_port_ = 0;
        local_address_[0] = '\0';
    }
    remote_port_ = get_remote(fd_, remote_address_);
    if (remote_port_ < 0) {
        remote_port_ = 0;
        remote_address_[0] = '\0';
    }
}

int tcp_connect(const char* host, int port, int timeout) {
    int fd = new_tcp_socket();
    if (fd < 1) {
        if (fd == 0) ::close(fd);
        return -1;
    }
    if (!TcpSocket::connect(fd, host, port, timeout)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int tcp_send(int fd, const char* data, int length, int timeout, bool* closed) {
    if (closed != nullptr) *closed = false;
    if (length < 1) return 0;
    int done = 0;
    while (done < length) {
        if (Socket::select_write(fd, timeout) < 1) return done;
        // MSG_NOSIGNAL: a peer that went away must not kill the process.
        ssize_t n = send(fd, data + done, length - done, MSG_NOSIGNAL);
        if (n < 1) {
            if (closed != nullptr) *closed = true;
            return done;
        }
        done += static_cast<int>(n);
    }
    return length;
}

int tcp_recv(int fd, char* buffer, int length, int timeout, bool* closed) {
    if (closed != nullptr) *closed = false;
    if (length < 1) return 0;
    int done = 0;
    while (done < length) {
        if (Socket::select_read(fd, timeout) < 1) return done;
        ssize_t n = recv(fd, buffer + done, length - done, 0);
        if (n < 1) {
            if (closed != nullptr) *closed = true;
            return done;
        }
        done += static_cast<int>(n);
    }
    return length;
}

}  // namespace Base

#ifndef XELMD_BASE_SOCKET_H
#define XELMD_BASE_SOCKET_H

namespace Base {

// An IPv4 socket descriptor; 0 means no socket. One thread at a time; the
// static functions may be called from any thread. Timeouts are milliseconds.
class Socket {
  public:
    Socket() : fd_(0) {}
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    virtual bool open() = 0;
    // Adopts a descriptor made elsewhere (an accepted connection). Sockets
    // made here (open, accept) are close-on-exec.
    virtual void open(int fd);
    virtual void close();
    virtual int listen(int backlog);
    virtual int accept();
    // Plain blocking connect; true on success.
    virtual bool connect(const char* host, int port);
    virtual bool bind(const char* host, int port);

    static void startup() {}
    static void cleanup() {}

    // 1 when the descriptor became readable (writable), 0 on time-out or
    // another event, -1 when the private epoll instance failed.
    static int select_read(int fd, int timeout);
    static int select_write(int fd, int timeout);
    int select_read(int timeout) const { return select_read(fd_, timeout); }
    int select_write(int timeout) const { return select_write(fd_, timeout); }

    // False when the descriptor refuses the mode.
    static bool set_blocking(int fd, bool blocking);
    bool set_blocking(bool blocking) { return set_blocking(fd_, blocking); }

    // getsockopt: 0, or -1 (length null, or the call failed).
    static int get_option(int fd, int level, int name, void* value, unsigned int* length);
    int get_option(int level, int name, void* value, unsigned int* length);

    // Cuts "host:port" at the first ':' in place; null when there is none.
    static char* get_address_port(char* text, int& port);

    int get_fd() const { return fd_; }

  protected:
    int fd_;
};

// A TCP socket with its options and the addresses of both ends. One thread
// at a time.
class TcpSocket : public Socket {
  public:
    TcpSocket();

    using Socket::connect;
    bool open() override;
    void open(int fd) override;
    int listen(int backlog) override;
    // Connect bounded by timeout (0 or below: 500 ms); fills the addresses.
    virtual bool connect(const char* host, int port, int timeout);

    // Leaves fd blocking whatever the outcome.
    static bool connect(int fd, const char* host, int port, int timeout);

    // Two-step connect: start without waiting, then poll for completion.
    bool try_connect(const char* host, int port);
    bool check_connect();

    // Dotted address into address (16 bytes); the port in host order or -1.
    static int get_local(int fd, char* address);
    static int get_remote(int fd, char* address);
    void get_address();

    const char* get_local_address() const { return local_address_; }
    int get_local_port() const { return local_port_; }
    const char* get_remote_address() const { return remote_address_; }
    int get_remote_port() const { return remote_port_; }
    bool is_adopted() const { return adopted_; }

  private:
    char local_address_[32];
    int local_port_;
    char remote_address_[32];
    int remote_port_;
    bool adopted_;
};

// A new blocking TCP connection, or -1.
int tcp_connect(const char* host, int port, int timeout);
// Move length bytes with a timeout on each wait; return the bytes done.
// *closed (if given) tells whether the peer closed or failed.
int tcp_send(int fd, const char* data, int length, int timeout, bool* closed);
int tcp_recv(int fd, char* buffer, int length, int timeout, bool* closed);

}  // namespace Base

#endif  // XELMD_BASE_SOCKET_H

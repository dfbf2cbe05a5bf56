#include "base/socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "base/uri.h"
#include "tests/test_table.h"

namespace {

const char* LOOPBACK = "127.0.0.1";

long long now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

bool is_blocking(int fd) {
    return (fcntl(fd, F_GETFL) & O_NONBLOCK) == 0;
}

// A listener on an ephemeral loopback port.
struct Listener {
    Base::TcpSocket socket;
    int port = 0;
    explicit Listener(int backlog = 8) {
        EXPECT_TRUE(socket.open());
        EXPECT_TRUE(socket.bind(LOOPBACK, 0));
        EXPECT_EQ(socket.listen(backlog), 0);
        port = socket.get_local_port();
        EXPECT_GT(port, 0);
    }
};

// A client connected by tcp_connect and the listener's accepted end.
struct Pair {
    Listener l;
    int client = Base::tcp_connect(LOOPBACK, l.port, 1000);
    int served = l.socket.accept();
    Pair() {
        EXPECT_GT(client, 0);
        EXPECT_GT(served, 0);
    }
    ~Pair() {
        close(client);
        if (served >= 0) close(served);
    }
};

// A loopback port where nothing listens: bound, then released.
int closed_port() {
    Listener l;
    int port = l.port;
    l.socket.close();
    return port;
}

TEST(Socket, AddressPortSplitsAtTheFirstColon) {
    for (const TestTable::Row& row : TestTable::read("base/uri.data", "addr")) {
        SCOPED_TRACE(TestTable::where("base/uri.data", row));
        std::string text = row[4];
        for (size_t i = 5; i < row.size(); ++i) text += ":" + row[i];
        int port = -1;
        EXPECT_EQ(Base::Socket::get_address_port(&text[0], port),
                  row[1] == "1" ? &text[0] : nullptr);
        EXPECT_EQ(std::make_pair(std::string(text.c_str()), port),
                  std::make_pair(row[2], std::stoi(row[3])));
    }
}

TEST(Socket, SelectReportsTimeOutReadinessAndFailure) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    EXPECT_EQ(Base::Socket::select_read(pair[0], 0), 0);
    EXPECT_EQ(Base::Socket::select_write(pair[0], 0), 1);
    ASSERT_EQ(write(pair[1], "x", 1), 1);
    EXPECT_EQ(Base::Socket::select_read(pair[0], 100), 1);
    close(pair[0]);
    close(pair[1]);
    EXPECT_EQ(Base::Socket::select_read(pair[0], 0), -1);  // closed descriptor
    EXPECT_EQ(Base::Socket::select_write(-5, 0), -1);
}

// Connect, in one step or in two, and accept fill both ends.
TEST(TcpSocket, ConnectAndAcceptFillBothEnds) {
    Listener l;
    EXPECT_STREQ(l.socket.get_local_address(), LOOPBACK);
    Base::TcpSocket client;
    ASSERT_TRUE(client.open());
    ASSERT_TRUE(client.connect(LOOPBACK, l.port, 1000));
    EXPECT_GT(client.get_local_port(), 0);
    EXPECT_EQ(std::make_tuple(is_blocking(client.get_fd()), client.is_adopted(),
                              std::string(client.get_remote_address()), client.get_remote_port()),
              std::make_tuple(true, false, std::string(LOOPBACK), l.port));

    int fd = l.socket.accept();
    ASSERT_GT(fd, 0);
    Base::TcpSocket served;
    served.open(fd);
    EXPECT_EQ(std::make_tuple(served.is_adopted(), served.get_local_port(),
                              std::string(served.get_remote_address()), served.get_remote_port()),
              std::make_tuple(true, l.port, std::string(LOOPBACK), client.get_local_port()));
    // No socket made here leaks into a child process.
    int dialled = Base::tcp_connect(LOOPBACK, l.port, 1000);
    ASSERT_GT(dialled, 0);
    for (int made : {l.socket.get_fd(), client.get_fd(), fd, dialled})
        EXPECT_TRUE(fcntl(made, F_GETFD) & FD_CLOEXEC) << made;
    close(dialled);

    // In two steps: started without blocking, polled until complete.
    Base::TcpSocket s;
    ASSERT_TRUE(s.open());
    ASSERT_TRUE(s.try_connect(LOOPBACK, l.port));
    bool done = false;
    for (int i = 0; i < 200 && !done; ++i) {
        done = s.check_connect();
        if (!done) usleep(5000);
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(s.get_remote_port(), l.port);
    EXPECT_TRUE(is_blocking(s.get_fd()));
}

// Opening calls fail cleanly when the socket is not opened, the host is a
// name (names are not resolved), no descriptor is left, or the port refuses;
// a refused connect neither waits out its time-out nor leaves the socket
// non-blocking.
TEST(TcpSocket, ConnectFailsWhenUnopenedNamedOutOfDescriptorsOrRefused) {
    Base::TcpSocket unopened;
    EXPECT_FALSE(unopened.connect(LOOPBACK, 1, 100));
    EXPECT_FALSE(Base::TcpSocket::connect(0, LOOPBACK, 1, 100));
    EXPECT_FALSE(unopened.try_connect(LOOPBACK, 1));
    EXPECT_FALSE(unopened.check_connect());
    Listener l;
    EXPECT_EQ(Base::tcp_connect("localhost", l.port, 200), -1);

    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = 0;  // no new descriptor at all
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    Base::TcpSocket starved;
    bool opened = starved.open();
    int selected = Base::Socket::select_read(l.socket.get_fd(), 0);
    int dialled = Base::tcp_connect(LOOPBACK, l.port, 100);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_FALSE(opened);
    EXPECT_EQ(starved.get_fd(), 0);
    EXPECT_EQ(selected, -1);
    EXPECT_EQ(dialled, -1);

    int port = closed_port();
    Base::TcpSocket s;
    ASSERT_TRUE(s.open());
    long long start = now_ms();
    EXPECT_FALSE(s.connect(LOOPBACK, port, 300));
    EXPECT_LT(now_ms() - start, 2000);
    EXPECT_TRUE(is_blocking(s.get_fd()));
    EXPECT_EQ(Base::tcp_connect(LOOPBACK, port, 300), -1);
}

// A listener with a full accept queue drops further handshakes, so the
// connect has nobody answering and must give up at its time-out.
TEST(TcpSocket, UnansweredConnectGivesUpAtItsTimeOut) {
    Listener l(0);
    std::vector<int> queued;
    int unanswered = -1;
    long long elapsed = 0;
    for (int i = 0; i < 8 && unanswered < 0; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GT(fd, 0);
        long long start = now_ms();
        if (Base::TcpSocket::connect(fd, LOOPBACK, l.port, 200)) {
            queued.push_back(fd);
        } else {
            elapsed = now_ms() - start;
            unanswered = fd;
        }
    }
    ASSERT_GE(unanswered, 0) << "the accept queue never filled";
    EXPECT_GE(elapsed, 150);
    EXPECT_LT(elapsed, 2000);
    EXPECT_TRUE(is_blocking(unanswered));

    close(unanswered);

    // A time-out of 0 means 500 ms.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GT(fd, 0);
    long long start = now_ms();
    EXPECT_FALSE(Base::TcpSocket::connect(fd, LOOPBACK, l.port, 0));
    elapsed = now_ms() - start;
    EXPECT_GE(elapsed, 400);
    EXPECT_LT(elapsed, 3000);
    EXPECT_TRUE(is_blocking(fd));
    close(fd);
    for (int waiting : queued) close(waiting);
}

TEST(TcpTransfer, RecvAndSendAcrossATimedOutWaitAndAPeerThatCloses) {
    Pair p;
    EXPECT_TRUE(is_blocking(p.client));
    char buffer[100];
    bool closed = true;
    ASSERT_EQ(Base::tcp_send(p.served, "0123456789", 10, 1000, &closed), 10);
    EXPECT_FALSE(closed);
    closed = true;
    long long start = now_ms();
    EXPECT_EQ(Base::tcp_recv(p.client, buffer, 100, 100, &closed), 10);
    EXPECT_GE(now_ms() - start, 80);
    EXPECT_FALSE(closed);
    EXPECT_EQ(Base::tcp_recv(p.client, buffer, 0, 100, &closed), 0);
    EXPECT_EQ(Base::tcp_send(p.client, buffer, -1, 100, nullptr), 0);

    std::string sent(40, 'a');
    EXPECT_EQ(Base::tcp_send(p.served, sent.data(), 40, 1000, nullptr), 40);
    close(p.served);
    p.served = -1;
    EXPECT_EQ(Base::tcp_recv(p.client, buffer, 100, 1000, &closed), 40);
    EXPECT_TRUE(closed);
    EXPECT_EQ(std::string(buffer, 40), sent);

    // A send to the vanished peer reports it closed instead of dying.
    std::vector<char> data(8 << 20, 'z');
    closed = false;
    int n = Base::tcp_send(p.client, data.data(), static_cast<int>(data.size()), 1000, &closed);
    EXPECT_LT(n, static_cast<int>(data.size()));
    EXPECT_TRUE(closed);
}

TEST(TcpTransfer, LargeSendArrivesWholeAndInOrder) {
    Pair p;
    const int size = 4 << 20;
    std::vector<char> data(size);
    for (int i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7 + (i >> 13));
    std::vector<char> got(size);
    int received = -1;
    std::thread reader(
        [&] { received = Base::tcp_recv(p.served, got.data(), size, 2000, nullptr); });
    bool closed = true;
    EXPECT_EQ(Base::tcp_send(p.client, data.data(), size, 2000, &closed), size);
    EXPECT_FALSE(closed);
    reader.join();
    EXPECT_EQ(received, size);
    EXPECT_TRUE(got == data);
}

std::string str(const char* p) {
    return p ? std::string(p) : std::string("<null>");
}

TEST(Uri, SplitsEachFormOfTheGrammar) {
    // One object parses every row: nothing of an earlier result may stay.
    Base::Uri uri("tcp://1.2.3.4:99/old");
    for (const TestTable::Row& row : TestTable::read("base/uri.data", "uri")) {
        SCOPED_TRACE(TestTable::where("base/uri.data", row));
        std::string text = row[5];
        for (size_t i = 6; i < row.size(); ++i) text += ":" + row[i];
        uri.parse(text == "<null>" ? nullptr : text.c_str());
        EXPECT_EQ(std::make_tuple(str(uri.get_scheme()), str(uri.get_host()), uri.get_port(),
                                  str(uri.get_path())),
                  std::make_tuple(row[1], row[2], std::stoi(row[3]), row[4]));
        EXPECT_EQ(str(uri.get_text()), text == "<null>" ? "" : text);
    }
}

TEST(Uri, OverlongTextIsCutInsideTheObject) {
    std::string text = "tcp://1.2.3.4:5/" + std::string(300, 'p');
    Base::Uri uri(text.c_str());
    EXPECT_EQ(std::string(uri.get_text()), text.substr(0, 127));
    EXPECT_EQ(std::make_tuple(str(uri.get_host()), uri.get_port(), str(uri.get_path())),
              std::make_tuple(std::string("1.2.3.4"), 5, std::string(127 - 16, 'p')));
}

}  // namespace

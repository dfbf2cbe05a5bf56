// The channels: the base's cipher and traffic log, the client channel's
// read and write paths against a peer socket, and the traffic-log saver.
#include "network/xelo_client_channel.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <random>

#include "base/byte_order.h"
#include "base/data_flow_iterator.h"
#include "base/measure.h"
#include "channel_frames.h"
#include "network/client_session.h"
#include "network/log_saver.h"
#include "network/xelo_flow.h"
#include "session_test_util.h"
#include "tests/cipher/cipher_oracle.h"
#include "tests/test_table.h"

// Allocation counting for the read path: only reads the test asks for
// count, and a test can make the next nothrow allocation fail. The array
// forms end up in these.
namespace {
thread_local bool t_counting = false;
std::atomic<long> g_allocations{0};
std::atomic<bool> g_fail_next_nothrow{false};
void* counted(size_t n) {
    if (t_counting) g_allocations.fetch_add(1, std::memory_order_relaxed);
    void* p = malloc(n == 0 ? 1 : n);
    if (p == nullptr) abort();
    return p;
}
}  // namespace

void* operator new(size_t n) {
    return counted(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    return g_fail_next_nothrow.exchange(false) ? nullptr : counted(n);
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete(void* p, size_t) noexcept {
    free(p);
}

namespace {

using ChannelFrames::Bytes;
using Network::XeloClientChannel;
using Network::XeloFlow;
using session_test::ReactorThread;
namespace F = ChannelFrames;

const unsigned int MIB = 1048576;
const int WAIT_MS = 5000;

class Session : public Network::ClientSession {
  public:
    Session() : ClientSession(nullptr, nullptr, nullptr) {}
    void on_connected() override {
        ++connected;
        if (hook) hook();
    }
    void on_disconnected(int reason) override {
        reasons.push_back(reason);
        closed.set();
    }
    int connected = 0;
    std::vector<int> reasons;
    Base::Sign closed;
    std::function<void()> hook;
};

bool refuse_x(Base::DataFlow*, char* frame, unsigned short& length) {
    return length <= 26 || frame[26 + 4] != 'X';
}

std::vector<Bytes> objects(Base::DataFlow* flow) {
    std::vector<Bytes> out;
    Base::DataFlow::Iterator it(flow, nullptr, nullptr, nullptr);
    while (const Base::DataFlow::Iterator::Result* r = it.next())
        out.emplace_back(r->data, r->length);
    return out;
}

void append(Base::DataFlow* flow, const Bytes& f) {
    memcpy(flow->alloc_object(f.size()), f.data(), f.size());
    flow->commit_object(f.size(), true);
}

// A channel connected to a peer socket the test holds. Without a reactor
// (the default) the test drives the channel's reads and writes itself.
class ChannelTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_GE(listener_ = session_test::listen_socket(&port_), 0); }
    void TearDown() override {
        drop_channel();
        ::close(listener_);
    }
    // Runs fn where the channel lives: on its reactor's thread, or here.
    void run(const std::function<void()>& fn) { reactor_ ? reactor_->run(fn) : fn(); }

    // Flows subscribed on subjects 1 (responses), 2 and 7 (sequence
    // checked), 8 (filtered), 9 (no sequence check).
    void open(ReactorThread* reactor = nullptr) {
        drop_channel();
        reactor_ = reactor;
        session_ = std::make_unique<Session>();
        for (unsigned short s : {1, 2, 7, 8, 9}) flow(s);
        run([&] {
            channel_ = new XeloClientChannel(reactor ? reactor->get() : nullptr, session_.get(),
                                             &reporter_, 1);
            ASSERT_TRUE(channel_->connect("127.0.0.1", port_, 1000));
            for (unsigned short s : {1, 2, 7, 9}) channel_->subscribe(flow(s), nullptr, 0, s == 9);
            channel_->subscribe(flow(8), refuse_x, 0, false);
        });
        peer_ = accept(listener_, nullptr, nullptr);
        ASSERT_GT(peer_, 0);
    }
    void drop_channel() {
        if (channel_ != nullptr) run([&] { delete channel_; });
        channel_ = nullptr;
        if (peer_ > 0) ::close(peer_);
        peer_ = -1;
        flows_.clear();
    }
    XeloFlow* flow(unsigned short subject) {
        std::unique_ptr<XeloFlow>& f = flows_[subject];
        if (!f)
            f.reset(new XeloFlow(subject, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false));
        return f.get();
    }
    // Without a reactor: what the reactor would do, a read pass (counting
    // its allocations) and writes while they make progress.
    void step() {
        if (reactor_ != nullptr) return;
        t_counting = true;
        channel_->read();
        t_counting = false;
        while (channel_->write() == XeloClientChannel::WRITE_PROGRESS) {
        }
    }
    void send(const Bytes& b) {
        for (size_t done = 0; done < b.size();) {
            ssize_t n = ::send(peer_, b.data() + done, b.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;  // the channel closed first
            done += static_cast<size_t>(n);
        }
    }
    // Waits until the channel has read everything sent: nothing left in the
    // peer's send queue nor in the channel's receive queue, and the read
    // pass that took it over.
    void drain() {
        int fd = 0;
        run([&] { fd = channel_->get_id(); });
        for (int i = 0; i < WAIT_MS && fd > 0; ++i) {
            step();
            int unsent = 0, queued = 0;
            ioctl(peer_, TIOCOUTQ, &unsent);
            if (ioctl(fd, FIONREAD, &queued) != 0 || (queued == 0 && unsent == 0)) break;
            usleep(1000);
        }
        run([] {});
    }
    void send_all(const Bytes& b) {
        send(b);
        drain();
    }
    int wait_close() {
        for (int i = 0; i < WAIT_MS && reactor_ == nullptr && channel_->is_valid(); ++i) {
            step();
            usleep(1000);
        }
        if (!session_->closed.timed_wait(WAIT_MS, false)) return 1;
        return session_->reasons.back();
    }
    // Reads exactly n bytes from the peer socket, bounded by time, not by
    // calls: a small window delivers little per call.
    std::vector<unsigned long> counts(std::initializer_list<unsigned short> subjects) {
        std::vector<unsigned long> c;
        for (unsigned short s : subjects) c.push_back(flow(s)->get_count());
        return c;
    }
    Bytes receive(size_t n) {
        Bytes out;
        char buffer[65536];
        const unsigned long deadline = Base::Measure::get_clock() + 10 * 10000000UL;
        while (out.size() < n && Base::Measure::get_clock() < deadline) {
            step();
            ssize_t r = recv(peer_, buffer, std::min(sizeof buffer, n - out.size()), MSG_DONTWAIT);
            if (r > 0)
                out.append(buffer, static_cast<size_t>(r));
            else
                usleep(1000);
        }
        return out;
    }

    ReactorThread* reactor_ = nullptr;
    session_test::Lines reporter_;
    std::unique_ptr<Session> session_;
    XeloClientChannel* channel_ = nullptr;
    std::map<unsigned short, std::unique_ptr<XeloFlow>> flows_;
    int listener_ = -1;
    int peer_ = -1;
    int port_ = 0;
};

// ---- close reasons ----

TEST_F(ChannelTest, EachMalformedStreamClosesWithItsReason) {
    ReactorThread reactor;
    const char* table = "network/channel_close.data";
    for (const TestTable::Row& c : TestTable::read(table, "close")) {
        SCOPED_TRACE(TestTable::where(table, c));
        open(&reactor);
        const int cipher = std::stoi(c[5]);
        run([&] {
            g_fail_next_nothrow = cipher < 0;
            if (cipher) channel_->set_cipher(static_cast<unsigned char>(std::abs(cipher)), 99);
            if (c[6] == "1") channel_->enable_compress();
            if (c[7].empty()) return;
            channel_->publish(flow(60), nullptr, nullptr, nullptr, nullptr, nullptr);
            append(flow(60), TestTable::bytes(c[7]));
        });
        send(TestTable::bytes(c[1]));
        if (c[2] == "close") shutdown(peer_, SHUT_WR);
        if (c[2] == "reset") {
            linger hard = {1, 0};
            setsockopt(peer_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(peer_);
            peer_ = -1;
        }
        EXPECT_EQ(std::stoi(c[3]), wait_close());
        EXPECT_EQ(1u, session_->reasons.size());
        EXPECT_EQ(std::stoul(c[4]), flow(7)->get_count());
        // Closing empties both tables and leaves the reactor.
        run([&] {
            EXPECT_FALSE(channel_->is_valid() || channel_->get_sub_item(7) ||
                         channel_->get_pub_item(XeloClientChannel::HEARTBEAT_SUBJECT) ||
                         channel_->is_linked());
        });
    }
    drop_channel();
}

// ---- accepted streams ----

TEST_F(ChannelTest, RoutesBySubjectWithFallbacksAndSequenceRules) {
    open();
    Bytes b = F::body(30, 2);
    auto frame = [&](unsigned short subject, unsigned long sequence) {
        return F::frame(F::packet(subject, sequence, b));
    };
    Bytes stream;
    // Subject 1 and no-check subscriptions accept repeated numbers.
    stream += frame(1, 5) + frame(1, 5) + frame(9, 3) + frame(9, 3);
    // 0 and 4 without subscriptions go to subject 1, unchecked.
    stream += frame(0, 100) + frame(4, 100);
    // 5 goes to 2, whose numbering it must continue.
    stream += frame(5, 1) + frame(2, 2);
    // The filter lets other packets through.
    stream += frame(8, 1) + frame(7, 1) + frame(7, 2) + frame(7, 3);
    send_all(stream);
    EXPECT_EQ(counts({1, 9, 2, 8, 7}), (std::vector<unsigned long>{4, 2, 2, 1, 3}));
    EXPECT_EQ(0u, session_->reasons.size());
    // Stored objects are the frames as received.
    EXPECT_EQ(frame(7, 2), objects(flow(7))[1]);

    // Subject 5 with a subscription of its own, and subject 0 checked once
    // subscribed.
    channel_->subscribe(flow(5), nullptr, 0, false);
    channel_->subscribe(flow(0), nullptr, 0, false);
    send_all(frame(5, 1) + frame(0, 1));
    EXPECT_EQ(counts({5, 0}), (std::vector<unsigned long>{1, 1}));
    send(frame(0, 7));
    EXPECT_EQ(-17, wait_close());
}

// A write callback that closes the channel (as an application reacting to a
// packet may) must not pull the tables from under the read pass.
TEST_F(ChannelTest, CloseFromAWriteCallbackWaitsForTheReadPass) {
    struct Closer : Base::DataFlow::WriteCallback {
        void on_write(unsigned long id, const void*, unsigned short) override {
            if (id == 1) channel->close(-99);
        }
        XeloClientChannel* channel = nullptr;
    } closer;
    open();
    closer.channel = channel_;
    XeloFlow watched(3, MIB, MIB, nullptr, &closer, 0, nullptr, false, false);
    channel_->subscribe(&watched, nullptr, 0, false);
    Bytes b = F::body(30, 2);
    send(F::frame(F::packet(3, 1, b)) + F::frame(F::packet(3, 2, b)) +
         F::frame(F::packet(3, 3, b)));
    EXPECT_EQ(-99, wait_close());
    EXPECT_EQ(1u, session_->reasons.size());
    EXPECT_EQ(2u, watched.get_count());
}

TEST_F(ChannelTest, SplitFramesWaitForTheirLastByteAndIntervalsSetTheTimeout) {
    open();
    Bytes a = F::data_frame(7, 1, 200);
    send_all(a.substr(0, 5));
    send_all(a.substr(5, 100));
    EXPECT_EQ(0u, flow(7)->get_count());
    send_all(a.substr(105));
    EXPECT_EQ(1u, flow(7)->get_count());
    // A lone 4-byte control frame is not examined until 6 bytes are there,
    // then removed without effect.
    const Bytes b = F::data_frame(7, 2, 10);
    for (const Bytes& piece : {TestTable::bytes("00000000"), b.substr(0, 3), b.substr(3)})
        send_all(piece);
    EXPECT_EQ(2u, flow(7)->get_count());
    EXPECT_EQ(60u, channel_->get_heartbeat_timeout());
    const char* table = "network/heartbeat_rules.data";
    for (const TestTable::Row& c : TestTable::read(table, "interval")) {
        send_all(F::interval_frame(std::stoul(c[1])));
        EXPECT_EQ(std::stoul(c[2]), channel_->get_heartbeat_timeout())
            << TestTable::where(table, c);
    }
    // Other control frames change nothing.
    send_all(F::heartbeat_frame() + TestTable::bytes("0006 0000 0804 00000009"));
    EXPECT_EQ(4u, channel_->get_heartbeat_timeout());
    EXPECT_TRUE(session_->reasons.empty());
}

// ---- ciphers ----

// Under every cipher type (0: clear) and with compression on and off:
// received frames are deciphered frame by frame and a zero-run compressed
// one is stored plain; published frames leave enciphered (compressed when
// enabled), each from a restarted counter; control frames and the
// heartbeat flow's frames stay clear; an unknown type keeps the cipher.
TEST_F(ChannelTest, FramesAreEncipheredFrameByFrameBothWays) {
    const unsigned long key = 0x0123456789abcdefUL;
    for (int type = 0; type <= 4; ++type) {
        for (bool compress : {false, true}) {
            SCOPED_TRACE(std::to_string(type) + (compress ? " compressed" : ""));
            open();
            if (type) channel_->set_cipher(static_cast<unsigned char>(type), key);
            if (compress) channel_->enable_compress();
            const Bytes p1 = F::packet(7, 1, F::body(333, 4)),
                        p2 = F::packet(7, 2, F::body(333, 4));
            const Bytes p3 = F::packet(7, 3, F::body(500, 5));
            send_all(F::encipher(type, key, F::frame(p1)) + F::encipher(type, key, F::frame(p2)) +
                     F::encipher(type, key, F::zero_frame(p3)) + F::interval_frame(10));
            EXPECT_EQ(objects(flow(7)),
                      (std::vector<Bytes>{F::frame(p1), F::frame(p2), F::frame(p3)}));
            EXPECT_EQ(31u, channel_->get_heartbeat_timeout());

            Bytes expected = F::heartbeat_frame();
            channel_->publish(flow(30), nullptr, nullptr, nullptr, nullptr, nullptr);
            for (int i = 0; i < 3; ++i) {
                const Bytes f = F::data_frame(30, 1, 200, i == 2 ? 9 : 1);
                append(flow(30), f);
                expected += F::encipher(type, key, compress ? F::zero_frame(f.substr(6)) : f);
            }
            channel_->send_heartbeat();
            EXPECT_EQ(expected, receive(expected.size()));
            EXPECT_EQ(type == 0 && !compress,
                      expected.substr(10, 40) == F::data_frame(30, 1, 200, 1).substr(4, 40));

            channel_->set_cipher(7, key);
            send_all(F::encipher(type, key, F::frame(F::packet(7, 4, F::body(20, 6)))));
            EXPECT_EQ(4u, flow(7)->get_count());
            EXPECT_TRUE(session_->reasons.empty());
        }
    }
}

// ---- writing ----

// A flow written through a small socket buffer: every partial send must be
// completed before a new batch, so the peer sees every frame whole and in
// order.
TEST_F(ChannelTest, PartialSendsCompleteBeforeAnyNewBatch) {
    ReactorThread reactor;
    open(&reactor);
    int small = 4096, fd = 0;
    run([&] { fd = channel_->get_id(); });
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    // Not tiny on the peer: delayed acknowledgements would crawl.
    int window = 65536;
    setsockopt(peer_, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    Bytes expected;
    run([&] {
        channel_->publish(flow(40), nullptr, nullptr, nullptr, nullptr, nullptr);
        for (int i = 0; i < 600; ++i) {
            const Bytes f = F::data_frame(40, i + 1, 100 + i * 37 % 900, i);
            append(flow(40), f);
            expected += f;
        }
    });
    // The peer reads nothing for a while: the channel must hold a tail.
    int pending = 0;
    for (int i = 0; i < 200 && pending == 0; ++i) {
        usleep(2000);
        run([&] { pending = channel_->get_pending(); });
    }
    EXPECT_GT(pending, 0);
    EXPECT_TRUE(expected == receive(expected.size()));
    EXPECT_TRUE(session_->reasons.empty());
    run([&] { EXPECT_EQ(XeloClientChannel::WRITE_IDLE, channel_->write()); });
    drop_channel();
}

// Flows holding references are gathered frame by frame into the batch
// buffer; the frames go out stamped with the reading flow's numbering.
TEST_F(ChannelTest, ReferencedFramesAreSentWhole) {
    open();
    std::vector<Bytes> held;
    Bytes expected;
    for (int i = 0; i < 20; ++i) {
        held.push_back(F::data_frame(99, 500 + i, 100 + i * 50, i));
        expected += F::data_frame(61, i + 1, 100 + i * 50, i);
    }
    XeloFlow::Writer writer(flow(61), true);
    for (const Bytes& f : held)
        writer.add_packet(reinterpret_cast<const Network::XmpPacket::Header*>(f.data()), true,
                          true);
    channel_->publish(flow(61), nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(expected, receive(expected.size()));
}

TEST_F(ChannelTest, HeartbeatSpacingAndIntervalFrame) {
    const char* table = "network/heartbeat_rules.data";
    const unsigned long last = 1000000000UL;
    for (const TestTable::Row& r : TestTable::read(table, "due"))
        EXPECT_EQ(r[3] == "1",
                  XeloClientChannel::heartbeat_due(last + std::stoul(r[1]), last, std::stoi(r[2])))
            << TestTable::where(table, r);
    open();
    channel_->send_heartbeat();
    channel_->send_heartbeat();  // not due again yet
    channel_->set_heartbeat_timeout(181);
    Bytes expected = F::heartbeat_frame() + TestTable::bytes("0006 0000 0704 0000003c");
    EXPECT_EQ(expected, receive(expected.size()));
    step();
    char extra;
    EXPECT_EQ(-1, recv(peer_, &extra, 1, MSG_DONTWAIT));
}

// ---- buffer blocking ----

TEST_F(ChannelTest, BufferBlockingDropsPacketsAndItsEndCloses) {
    open();
    channel_->subscribe(flow(7), nullptr, 10, false);
    Bytes stream;
    for (unsigned long s = 1; s <= 29; ++s) stream += F::data_frame(7, s, 20);
    send_all(stream);
    EXPECT_EQ(0, channel_->check_sub_buffer());
    EXPECT_EQ(1u, reporter_.get().size());  // only "connect ok!"
    send_all(F::data_frame(7, 30, 20));
    channel_->check_sub_buffer();
    const std::string line = "5 FlowBufferBlocking buffer blocking -> ";
    EXPECT_EQ(reporter_.get(),
              (std::vector<std::string>{reporter_.get()[0],
                                        line + "ON! flow_subject=[0x0007] buffer_count=[30]"}));
    // Blocked: packets are dropped, even out-of-order ones.
    send_all(F::data_frame(7, 31, 20) + F::data_frame(7, 99, 20));
    EXPECT_EQ(30u, flow(7)->get_count());
    flow(7)->truncate(21);
    EXPECT_EQ(0, channel_->check_sub_buffer());
    flow(7)->truncate(20);
    EXPECT_EQ(-15, channel_->check_sub_buffer());
    EXPECT_EQ(session_->reasons, std::vector<int>{-15});
    EXPECT_EQ(line + "OFF! flow_subject=[0x0007] buffer_count=[20]", reporter_.get().back());
}

// ---- connection ----

TEST_F(ChannelTest, ConnectCallsTheSessionBeforeJoiningTheReactor) {
    ReactorThread reactor;
    reactor_ = &reactor;
    bool linked_in_callback = true;
    bool heartbeat_published = false;
    session_ = std::make_unique<Session>();
    Base::DataFlow log(3, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    run([&] {
        channel_ = new XeloClientChannel(reactor.get(), session_.get(), &reporter_, 40);
        channel_->set_log(&log);
        session_->hook = [&] {
            linked_in_callback = channel_->is_linked();
            heartbeat_published = channel_->get_pub_item(65535) != nullptr;
        };
        EXPECT_TRUE(channel_->connect("127.0.0.1", port_, 1000));
        EXPECT_TRUE(channel_->is_linked());
        EXPECT_EQ(XeloClientChannel::MAX_FACTOR, channel_->get_factor());
    });
    peer_ = accept(listener_, nullptr, nullptr);
    EXPECT_FALSE(linked_in_callback);
    EXPECT_TRUE(heartbeat_published);
    EXPECT_EQ(1, session_->connected);
    send_all(F::heartbeat_frame());
    ::close(peer_);
    peer_ = -1;
    EXPECT_EQ(-11, wait_close());
    // The traffic log: connected (peer text), received, peer closed, closed;
    // each record's kind, then the data after its 16-byte head.
    run([&] {
        std::vector<Bytes> records;
        for (const Bytes& r : objects(&log)) records.push_back(r.substr(9, 1) + r.substr(16));
        EXPECT_EQ(records, (std::vector<Bytes>{TestTable::bytes("00") + Bytes("127.0.0.1", 10),
                                               TestTable::bytes("01") + F::heartbeat_frame(),
                                               TestTable::bytes("06"), TestTable::bytes("05")}));
    });
    const std::string peer = " [127.0.0.1] [" + std::to_string(port_) + "]";
    EXPECT_EQ(reporter_.get(), std::vector<std::string>{"5 XeloClientChannel connect ok!" + peer});
    // Nothing listens on the closed listener's port any more.
    ::close(listener_);
    listener_ = -1;
    run([&] { EXPECT_FALSE(channel_->connect("127.0.0.1", port_, 200)); });
    EXPECT_EQ("5 XeloClientChannel connect error!" + peer, reporter_.get().back());
    drop_channel();
}

// A channel still open when its reactor is destroyed goes with it.
TEST_F(ChannelTest, ReactorDestroysAnOpenChannel) {
    {
        ReactorThread reactor;
        open(&reactor);
        channel_ = nullptr;  // the reactor owns it from here
    }
    EXPECT_EQ(session_->reasons, std::vector<int>{0});
}

// ---- allocation ----

TEST_F(ChannelTest, ReadPathAllocatesNothingPerFrame) {
    open();
    const unsigned long key = 0x55aa55aa55aa55aaUL;
    channel_->set_cipher(3, key);
    // Warm-up: the flows take their first memory blocks.
    Bytes warm;
    for (unsigned long s = 1; s <= 5; ++s) warm += F::encipher(3, key, F::data_frame(7, s, 300));
    send_all(warm);
    g_allocations = 0;
    Bytes stream;
    for (unsigned long s = 6; s <= 1005; ++s) {
        Bytes p = F::packet(7, s, F::body(300, static_cast<unsigned int>(s)));
        stream += F::encipher(3, key, s % 2 ? F::zero_frame(p) : F::frame(p));
        if (s % 100 == 0) stream += F::interval_frame(20);
    }
    for (size_t pos = 0; pos < stream.size(); pos += 1000) {
        send(stream.substr(pos, 1000));
        if (pos % 50000 == 0) drain();
    }
    drain();
    EXPECT_EQ(1005u, flow(7)->get_count());
    EXPECT_EQ(0, g_allocations.load());
}

// ---- the channel base: cipher and traffic log ----

using Octets = CipherTest::Bytes;
using CipherTest::from_hex;
using CipherTest::to_hex;

// The abstract slots answered just enough to drive the base.
struct BareChannel : Network::Channel {
    BareChannel() : Network::Channel(nullptr, nullptr) {}
    int get_id() const override { return id; }
    Base::TcpSocket* get_socket() override { return nullptr; }
    bool listen(const char*, int) override { return false; }
    bool connect(const char*, int, int) override { return false; }
    int close(int reason) override { return reason; }
    int id = 7;
};

Octets code(Network::Channel& c, const Octets& in, bool decoding = false) {
    Octets out(in.size());
    const int n = static_cast<int>(in.size());
    EXPECT_NE(decoding ? c.decode(out.data(), in.data(), n) : c.encode(out.data(), in.data(), n),
              0);
    return out;
}

TEST(ChannelCipher, XorMatchesHandWorkedAnswers) {
    // 13 bytes: 0x0706050403020100 ^ 0x0123456789abcdef = 0x062540638aa9ccef,
    // stored little-endian; the tail 08..0c ^ key bytes 0-4 (ef cd ab 89 67).
    // Key 2^64 - 1: word 1 takes key + 1 = 0 (mod 2^64) and passes unchanged.
    const struct {
        unsigned long key;
        const char *in, *out;
    } cases[] = {
        {0x0123456789abcdefUL, "000102030405060708090a0b0c", "efcca98a63402506e7c4a1826b"},
        {~0UL, "000102030405060708090a0b0c0d0e0f10111213",
         "fffefdfcfbfaf9f808090a0b0c0d0e0fefeeedec"},
    };
    for (const auto& c : cases) {
        BareChannel ch;
        ch.set_cipher(Network::Channel::CIPHER_XOR, c.key);
        EXPECT_EQ(to_hex(code(ch, from_hex(c.in))), c.out);
        EXPECT_EQ(to_hex(code(ch, from_hex(c.out), true)), c.in);
    }
}

// Random keys and frames of every size class against the oracle; the same
// frame twice gives the same bytes (the counter restarts every frame). An
// unknown type then keeps the cipher but takes the key block, which only
// XOR keys from; the others keep their schedule.
TEST(ChannelCipher, EveryTypeMatchesTheOracleAndRestartsEveryFrame) {
    std::mt19937 rng(20261206);
    for (unsigned char type = 1; type <= 4; ++type) {
        for (int round = 0; round < 40; ++round) {
            const unsigned long key = (static_cast<unsigned long>(rng()) << 32) | rng();
            BareChannel ch;
            ch.set_cipher(type, key);
            unsigned long stored[2];  // the key's bytes in host order, twice
            memcpy(stored, ch.get_key_block(), 16);
            ASSERT_TRUE(stored[0] == key && stored[1] == key);
            const Octets frame = CipherTest::random_bytes(rng, round < 3 ? round : rng() % 8195);
            const Bytes plain(frame.begin(), frame.end()),
                want_s = F::encipher_content(type, key, plain);
            const Octets want(want_s.begin(), want_s.end());
            EXPECT_EQ(code(ch, frame), want) << int(type) << " " << frame.size();
            EXPECT_EQ(code(ch, frame), want);
            EXPECT_EQ(code(ch, want, true), frame);
            ch.set_cipher(static_cast<unsigned char>(5 + rng() % 251), ~key);
            EXPECT_EQ(ch.get_cipher_type(), type);
            memcpy(stored, ch.get_key_block(), 16);
            ASSERT_TRUE(stored[0] == ~key && stored[1] == ~key);
            const Bytes again = F::encipher_content(type, type == 1 ? ~key : key, plain);
            EXPECT_EQ(code(ch, frame), Octets(again.begin(), again.end()));
        }
    }
    BareChannel none;
    unsigned char out[4] = {};
    none.set_cipher(5, 1);
    EXPECT_EQ(none.encode(out, out, 4), 0);  // still no cipher
    none.set_cipher(3, 1);
    EXPECT_EQ(none.decode(out, out, -1), 0);
}

// Counts how often the log flow wakes its readers.
struct CountingGroup : Base::NotifyGroup {
    void wakeup(bool) override { wakeups.fetch_add(1, std::memory_order_relaxed); }
    void notify(Base::List*) override {}
    std::atomic<int> wakeups{0};
};

// Each record: the channel's number, the time, kind, data length,
// microseconds, then the data.
TEST(ChannelLog, RecordsCarryNumberTimeKindLengthAndData) {
    Base::DataFlow flow(0, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    CountingGroup consumer;  // woken by every record
    Base::DataFlow::Iterator woken(&flow, &consumer, nullptr, nullptr);
    BareChannel ch;
    ch.write_log(Network::Channel::LOG_CONNECTED);  // no log flow: nothing
    ch.set_log(&flow);
    ch.id = 0;
    ch.set_cipher(3, 1);  // no number: nothing
    EXPECT_EQ(flow.get_count(), 0u);
    ch.id = 0x01020304;
    ch.write_log(Network::Channel::LOG_CONNECTED, 10, "127.0.0.1");
    ch.write_log(Network::Channel::LOG_RECEIVED, 3, "\x00\x02\x00");
    for (unsigned short k = 3; k <= 7; ++k) ch.write_log(k);
    ch.set_cipher(4, 0x0807060504030201UL);
    ch.set_cipher(9, 5);  // ignored types leave no record
    ch.write_log(Network::Channel::LOG_SENT, 65535, Bytes(65535, 'Z').data());
    std::vector<Bytes> log;
    for (const Bytes& r : objects(&flow)) {
        EXPECT_EQ(Base::load_be32(r.data()), 0x01020304u);
        EXPECT_LE(time(nullptr) - static_cast<long>(Base::load_be32(r.data() + 4)), 5);
        EXPECT_EQ(Base::load_be16(r.data() + 10) + 16u, r.size());
        EXPECT_LT(Base::load_be32(r.data() + 12), 1000000u);
        log.push_back(r.substr(8, 2) + r.substr(16));  // kind, data
    }
    EXPECT_EQ(consumer.wakeups.load(), 10);
    ASSERT_EQ(log.size(), 10u);
    std::vector<Bytes> want = {TestTable::bytes("0000") + Bytes("127.0.0.1", 10),
                               TestTable::bytes("0001 000200")};
    for (int k = 3; k <= 7; ++k) want.push_back(Bytes{0, static_cast<char>(k)});
    want.push_back(TestTable::bytes("0008 04 0102030405060708"));
    EXPECT_EQ(want, std::vector<Bytes>(log.begin(), log.begin() + 8));
    // 65535 bytes do not fit one record: split, nothing lost.
    EXPECT_TRUE(log[8] == TestTable::bytes("0002 5a*65519") &&
                log[9] == TestTable::bytes("0002 5a*16"));
}

TEST(ChannelNotes, PublishedIvIsTheConstant) {
    const std::string tag = "Counter-mode IV: ";
    std::vector<std::string> found;
    std::ifstream f(std::string(XELMD_SOURCE_DIR) + "/README.md");
    for (std::string s; std::getline(f, s);)
        if (s.compare(0, tag.size(), tag) == 0) found.push_back(s.substr(tag.size()));
    const unsigned char* iv = Network::Channel::COUNTER_IV;
    ASSERT_FALSE(found.empty());
    // The whole rest of the line: exactly the 32 lowercase digits.
    for (const std::string& hex : found) EXPECT_EQ(hex, to_hex(iv, 16));
    EXPECT_TRUE(iv[0] != 0x00 && iv[0] != 0xff);  // no wrap within a frame
}

// ---- saving traffic logs ----

TEST(LogSaver, AppendsAtMostOneHundredRecordsPerFlowPerCall) {
    char dir[] = "/tmp/log_saver_test_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string prefix = std::string(dir) + "/traffic";
    auto slurp = [&](const char* suffix) {
        std::ifstream in(prefix + suffix, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    std::ofstream(prefix + "_1.slog") << "old|";  // appended to, not replaced
    Base::DataFlow a(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    Base::DataFlow b(2, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    std::string want[2] = {"old|", ""};
    for (int i = 0; i < 150; ++i) append(&a, "a" + std::to_string(i) + ";");
    for (int i = 0; i < 100; ++i) want[0] += "a" + std::to_string(i) + ";";
    for (const char* s : {"b0", "b1", "b2"}) append(&b, s), want[1] += s;
    Base::DataFlow* flows[] = {&a, &b};
    Network::LogSaver saver(prefix.c_str(), flows, 2);
    EXPECT_TRUE(saver.on_invoke());
    // Read while the saver still holds the files open: every record is flushed.
    EXPECT_EQ(slurp("_1.slog"), want[0]);
    EXPECT_EQ(slurp("_2.slog"), want[1]);
    EXPECT_TRUE(saver.on_invoke());
    for (int i = 100; i < 150; ++i) want[0] += "a" + std::to_string(i) + ";";
    EXPECT_EQ(slurp("_1.slog"), want[0]);
    EXPECT_FALSE(saver.on_invoke());
    for (const char* f : {"_1.slog", "_2.slog"}) unlink((prefix + f).c_str());
    EXPECT_EQ(rmdir(dir), 0);  // nothing else was created

    Network::LogSaver lost("/nonexistent_dir_for_log_saver/t", flows, 1);
    append(&a, "x");
    EXPECT_TRUE(lost.on_invoke());  // no file: the records are taken all the same
    EXPECT_EQ(lost.get_file(0), nullptr);
}

}  // namespace

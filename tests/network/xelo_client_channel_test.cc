#include "network/xelo_client_channel.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/data_flow_iterator.h"
#include "base/measure.h"
#include "base/sign.h"
#include "channel_frames.h"
#include "network/client_session.h"
#include "network/crp_packet.h"
#include "network/xelo_flow.h"
#include "parallel/fd_reactor.h"
#include "parallel/handler.h"
#include "parallel/reporter.h"

// Allocation counting for the read path: only the reactor thread inside
// read() counts, and a test can make the next nothrow allocation fail.
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
void* operator new[](size_t n) {
    return counted(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    if (g_fail_next_nothrow.exchange(false)) return nullptr;
    return counted(n);
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
    return counted(n);
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete[](void* p) noexcept {
    free(p);
}
void operator delete(void* p, size_t) noexcept {
    free(p);
}
void operator delete[](void* p, size_t) noexcept {
    free(p);
}

namespace {

using ChannelFrames::Bytes;
using Network::XeloClientChannel;
using Network::XeloFlow;
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

class Reporter : public Parallel::Reporter {
  public:
    void report(int level, const char* tag, const char* format, ...) override {
        char text[256];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::to_string(level) + " " + tag + " " + text);
    }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Runs a function on the reactor thread.
class Runner : public Parallel::Handler {
  public:
    int on_event(int, void* arg) override {
        (*static_cast<std::function<void()>*>(arg))();
        return 0;
    }
};

// Counts allocations made inside read().
class CountingChannel : public XeloClientChannel {
  public:
    using XeloClientChannel::XeloClientChannel;
    int read() override {
        t_counting = true;
        int r = XeloClientChannel::read();
        t_counting = false;
        return r;
    }
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

class ChannelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reactor_ = new Parallel::FdReactor(nullptr);
        ASSERT_TRUE(reactor_->create(true, nullptr));
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a));
        ASSERT_EQ(0, ::listen(listener_, 4));
        socklen_t len = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    void TearDown() override {
        drop_channel();
        reactor_->stop();
        reactor_->join();
        delete reactor_;
        ::close(listener_);
    }

    void run(std::function<void()> fn) {
        Base::Sign done;
        reactor_->add_event(1001, &fn, &done, &runner_, true);
        ASSERT_TRUE(done.timed_wait(WAIT_MS, false));
    }

    // A channel connected to a fresh peer socket, and flows subscribed on
    // subjects 1 (responses), 2 and 7 (sequence checked), 8 (filtered), 9
    // (no sequence check).
    void open(int factor = 1, bool counting = false) {
        drop_channel();
        session_ = std::make_unique<Session>();
        run([&] {
            channel_ = counting
                           ? new CountingChannel(reactor_, session_.get(), &reporter_, factor)
                           : new XeloClientChannel(reactor_, session_.get(), &reporter_, factor);
            ASSERT_TRUE(channel_->connect("127.0.0.1", port_, 1000));
        });
        peer_ = accept(listener_, nullptr, nullptr);
        ASSERT_GT(peer_, 0);
        for (unsigned short s : {1, 2, 7, 8, 9}) flow(s);
        run([&] {
            channel_->subscribe(flow(1), nullptr, 0, false);
            channel_->subscribe(flow(2), nullptr, 0, false);
            channel_->subscribe(flow(7), nullptr, 0, false);
            channel_->subscribe(flow(8), refuse_x, 0, false);
            channel_->subscribe(flow(9), nullptr, 0, true);
        });
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
    void send(const Bytes& b) {
        size_t done = 0;
        while (done < b.size()) {
            ssize_t n = ::send(peer_, b.data() + done, b.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;  // the channel closed first
            done += static_cast<size_t>(n);
        }
    }
    // Waits until the channel has received everything sent and read() has
    // returned.
    void drain() {
        int fd = 0;
        run([&] { fd = channel_->get_id(); });
        // Bytes may still sit in the peer's send queue or in the channel's
        // receive queue; then one event after the read pass that took them.
        for (int i = 0; i < WAIT_MS && fd > 0; ++i) {
            int unsent = 0;
            int queued = 0;
            ioctl(peer_, TIOCOUTQ, &unsent);
            if (ioctl(fd, FIONREAD, &queued) != 0) break;
            if (queued == 0 && unsent == 0) break;
            usleep(1000);
        }
        run([] {});
    }
    int wait_close() {
        if (!session_->closed.timed_wait(WAIT_MS, false)) return 1;
        return session_->reasons.back();
    }
    // Reads exactly n bytes from the peer socket (bounded wait).
    Bytes receive(size_t n) {
        Bytes out;
        char buffer[65536];
        // Bounded by time, not by calls: a small window delivers little per call.
        const unsigned long deadline = Base::Measure::get_clock() + 10 * 10000000UL;
        while (out.size() < n && Base::Measure::get_clock() < deadline) {
            ssize_t r = recv(peer_, buffer, std::min(sizeof buffer, n - out.size()), MSG_DONTWAIT);
            if (r > 0)
                out.append(buffer, static_cast<size_t>(r));
            else
                usleep(1000);
        }
        return out;
    }
    unsigned long count(unsigned short subject) {
        unsigned long c = 0;
        run([&] { c = flows_[subject] ? flows_[subject]->get_count() : 0; });
        return c;
    }

    Parallel::FdReactor* reactor_ = nullptr;
    Runner runner_;
    Reporter reporter_;
    std::unique_ptr<Session> session_;
    XeloClientChannel* channel_ = nullptr;
    std::map<unsigned short, std::unique_ptr<XeloFlow>> flows_;
    int listener_ = -1;
    int peer_ = -1;
    int port_ = 0;
};

Bytes raw(std::initializer_list<int> bytes) {
    Bytes b;
    for (int v : bytes) b += static_cast<char>(v);
    return b;
}

// ---- close reasons ----

struct CloseCase {
    const char* name;
    Bytes stream;
    int peer;  // 0 stays, 1 closes in order, 2 resets the connection
    int reason;
    unsigned long stored;  // frames in flow 7 when it closed
};

std::vector<CloseCase> close_cases() {
    Bytes body = F::body(40, 1);
    Bytes good = F::data_frame(7, 1, 40);
    Bytes long_frame = raw({2, 0, 0x1f, 0xff, 1, 0}) + Bytes(8191 - 2, 'a');
    Bytes wrong_length = F::frame(F::packet(7, 1, body) + "z");
    Bytes short_length = F::frame(F::packet(7, 1, body).substr(0, 30));
    Bytes zero_mismatch = F::zero_frame(F::packet(7, 1, body) + Bytes(3, '\0'));
    Bytes many_zeros(8194 / 15 + 2, '\xef');
    return {
        {"frame of 8195 bytes", long_frame, 0, -19, 0},
        {"frame of 8194 bytes is read whole, then checked",
         raw({2, 0, 0x1f, 0xfe, 1, 0}) + Bytes(8190 - 2, 'a'), 0, -19, 0},
        {"frame of 5 bytes", raw({2, 0, 0, 1, 1, 0}), 0, -19, 0},
        {"data frame of type 1", raw({1, 0, 0, 40, 1, 0}), 0, -12, 0},
        {"control frame of type 2", raw({2, 0, 0, 0, 5, 0}), 0, -12, 0},
        {"extension length 1", raw({0, 1, 0, 0, 5, 0}), 0, -12, 0},
        {"extension length 128", raw({0, 128, 0, 0, 5, 0}), 0, -12, 0},
        {"compression version 2", F::frame(F::packet(7, 1, body), 0, 2), 0, -12, 0},
        {"compression method 1", F::frame(F::packet(7, 1, body), 1), 0, -12, 0},
        {"plain length one beyond the packet", wrong_length, 0, -19, 0},
        {"plain frame shorter than a packet header", short_length, 0, -19, 0},
        {"expansion longer than the packet", good + zero_mismatch, 0, -19, 1},
        {"expansion ending on an escape", F::frame(raw({0xe1, 0xe0}), 3), 0, -19, 0},
        {"expansion beyond 8194 bytes", F::frame(many_zeros, 3), 0, -19, 0},
        {"unknown subject", F::data_frame(11, 1, 40), 0, -16, 0},
        {"subject 3 has no subscription", F::data_frame(3, 1, 40), 0, -16, 0},
        {"repeated sequence", good + good, 0, -17, 1},
        {"sequence gap", F::data_frame(7, 2, 40), 0, -17, 0},
        {"filter refusal", F::frame(F::packet(8, 1, Bytes("\x24\x39\x00\x04XYZW", 8))), 0, -22, 0},
        {"peer close after a frame", good, 1, -11, 1},
        {"peer close inside a frame", good.substr(0, 17), 1, -11, 0},
        {"connection reset: receive fails", Bytes(), 2, -12, 0},
    };
}

TEST_F(ChannelTest, EachMalformedStreamClosesWithItsReason) {
    for (const CloseCase& c : close_cases()) {
        SCOPED_TRACE(c.name);
        open();
        send(c.stream);
        if (c.peer == 1) shutdown(peer_, SHUT_WR);
        if (c.peer == 2) {
            linger hard = {1, 0};
            setsockopt(peer_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(peer_);
            peer_ = -1;
        }
        EXPECT_EQ(c.reason, wait_close());
        EXPECT_EQ(1u, session_->reasons.size());
        EXPECT_EQ(c.stored, flow(7)->get_count());
        // Closing empties both tables and leaves the reactor.
        run([&] {
            EXPECT_FALSE(channel_->is_valid());
            EXPECT_EQ(nullptr, channel_->get_sub_item(7));
            EXPECT_EQ(nullptr, channel_->get_pub_item(XeloClientChannel::HEARTBEAT_SUBJECT));
            EXPECT_FALSE(channel_->is_linked());
        });
    }
}

TEST_F(ChannelTest, MissingCipherObjectFailsDecryption) {
    open();
    // The AES object cannot be made: the type is set, the object missing.
    run([&] {
        g_fail_next_nothrow = true;
        channel_->set_cipher(XeloClientChannel::CIPHER_AES, 0x1122334455667788UL);
    });
    send(F::data_frame(7, 1, 40));
    EXPECT_EQ(-24, wait_close());
}

// ---- accepted streams ----

TEST_F(ChannelTest, RoutesBySubjectWithFallbacksAndSequenceRules) {
    open();
    Bytes b = F::body(30, 2);
    Bytes stream;
    // Subject 1 and no-check subscriptions accept repeated numbers.
    stream += F::frame(F::packet(1, 5, b)) + F::frame(F::packet(1, 5, b));
    stream += F::frame(F::packet(9, 3, b)) + F::frame(F::packet(9, 3, b));
    // 0 and 4 without subscriptions go to subject 1, unchecked.
    stream += F::frame(F::packet(0, 100, b)) + F::frame(F::packet(4, 100, b));
    // 5 goes to 2, whose numbering it must continue.
    stream += F::frame(F::packet(5, 1, b)) + F::frame(F::packet(2, 2, b));
    // The filter lets other packets through.
    stream += F::frame(F::packet(8, 1, b));
    for (unsigned long s = 1; s <= 3; ++s) stream += F::frame(F::packet(7, s, b));
    send(stream);
    drain();
    EXPECT_EQ(4u, count(1));
    EXPECT_EQ(2u, count(9));
    EXPECT_EQ(2u, count(2));
    EXPECT_EQ(1u, count(8));
    EXPECT_EQ(3u, count(7));
    EXPECT_EQ(0u, session_->reasons.size());
    // Stored objects are the frames as received.
    run([&] { EXPECT_EQ(F::frame(F::packet(7, 2, b)), objects(flow(7))[1]); });

    // Subject 5 with a subscription of its own, and subject 0 checked once
    // subscribed.
    run([&] {
        channel_->subscribe(flow(5), nullptr, 0, false);
        channel_->subscribe(flow(0), nullptr, 0, false);
    });
    send(F::frame(F::packet(5, 1, b)) + F::frame(F::packet(0, 1, b)));
    drain();
    EXPECT_EQ(1u, count(5));
    EXPECT_EQ(1u, count(0));
    send(F::frame(F::packet(0, 7, b)));
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
    run([&] { channel_->subscribe(&watched, nullptr, 0, false); });
    Bytes b = F::body(30, 2);
    send(F::frame(F::packet(3, 1, b)) + F::frame(F::packet(3, 2, b)) +
         F::frame(F::packet(3, 3, b)));
    EXPECT_EQ(-99, wait_close());
    EXPECT_EQ(1u, session_->reasons.size());
    run([&] { EXPECT_EQ(2u, watched.get_count()); });
}

TEST_F(ChannelTest, CompressedFrameIsStoredInItsPlainForm) {
    open();
    Bytes p = F::packet(7, 1, F::body(300, 3));
    Bytes z = F::zero_frame(p);
    ASSERT_LT(z.size(), F::frame(p).size());
    send(z);
    drain();
    ASSERT_EQ(1u, count(7));
    run([&] { EXPECT_EQ(F::frame(p), objects(flow(7))[0]); });
}

TEST_F(ChannelTest, SplitFramesWaitForTheirLastByte) {
    open();
    Bytes a = F::data_frame(7, 1, 200);
    send(a.substr(0, 5));
    drain();
    send(a.substr(5, 100));
    drain();
    EXPECT_EQ(0u, count(7));
    send(a.substr(105));
    drain();
    EXPECT_EQ(1u, count(7));
    // A lone 4-byte control frame is not examined until 6 bytes are there,
    // then removed without effect.
    send(raw({0, 0, 0, 0}));
    drain();
    send(F::data_frame(7, 2, 10).substr(0, 3));
    drain();
    send(F::data_frame(7, 2, 10).substr(3));
    drain();
    EXPECT_EQ(2u, count(7));
    EXPECT_TRUE(session_->reasons.empty());
    run([&] { EXPECT_EQ(60u, channel_->get_heartbeat_timeout()); });
}

TEST_F(ChannelTest, PeerIntervalSetsTheHeartbeatTimeout) {
    open();
    const unsigned int cases[][2] = {{100, 181}, {0, 4}, {5, 16}, {60, 181}, {1, 4}};
    for (const auto& c : cases) {
        send(F::interval_frame(c[0]));
        drain();
        unsigned int t = 0;
        run([&] { t = channel_->get_heartbeat_timeout(); });
        EXPECT_EQ(c[1], t) << "interval " << c[0];
    }
    // Other control frames change nothing.
    send(F::heartbeat_frame() + raw({0, 6, 0, 0, 8, 4, 0, 0, 0, 9}));
    drain();
    run([&] { EXPECT_EQ(4u, channel_->get_heartbeat_timeout()); });
    EXPECT_TRUE(session_->reasons.empty());
}

// ---- ciphers ----

Bytes xor_oracle(const Bytes& in, unsigned long key) {
    Bytes out = in;
    size_t words = in.size() / 8;
    for (size_t i = 0; i < words; ++i)
        for (int j = 0; j < 8; ++j) out[i * 8 + j] ^= static_cast<char>((key + i) >> (8 * j));
    for (size_t j = 0; j < in.size() % 8; ++j)
        out[words * 8 + j] ^= static_cast<char>(key >> (8 * j));
    return out;
}

// Counter mode built from libcrypto's ECB: the block is the fixed starting
// value read big-endian, plus one per block.
Bytes ctr_oracle(const EVP_CIPHER* ecb, const unsigned char* key, const Bytes& in) {
    const int bs = EVP_CIPHER_block_size(ecb);
    unsigned char counter[16];
    memcpy(counter, Network::Channel::COUNTER_IV, bs);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, ecb, nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    Bytes out = in;
    for (size_t pos = 0; pos < in.size(); pos += bs) {
        unsigned char stream[16];
        int n = 0;
        EVP_EncryptUpdate(ctx, stream, &n, counter, bs);
        for (size_t i = 0; i < static_cast<size_t>(bs) && pos + i < in.size(); ++i)
            out[pos + i] ^= static_cast<char>(stream[i]);
        for (int i = bs - 1; i >= 0 && ++counter[i] == 0; --i) {
        }
    }
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

// The content of every frame enciphered on its own, header in clear.
Bytes encipher(int type, unsigned long key, const Bytes& frame) {
    unsigned char block[16];
    memcpy(block, &key, 8);
    memcpy(block + 8, &key, 8);
    Bytes content = frame.substr(4);
    Bytes out;
    switch (type) {
        case 1:
            out = xor_oracle(content, key);
            break;
        case 2:
            out = ctr_oracle(EVP_des_ecb(), block, content);
            break;
        case 3:
            out = ctr_oracle(EVP_aes_128_ecb(), block, content);
            break;
        default:
            out = ctr_oracle(EVP_sm4_ecb(), block, content);
            break;
    }
    return frame.substr(0, 4) + out;
}

class CipherTest : public ChannelTest {
  protected:
    // Single DES lives in libcrypto's legacy provider.
    static void SetUpTestSuite() {
        legacy_ = OSSL_PROVIDER_load(nullptr, "legacy");
        default_ = OSSL_PROVIDER_load(nullptr, "default");
    }
    static void TearDownTestSuite() {
        if (legacy_) OSSL_PROVIDER_unload(legacy_);
        if (default_) OSSL_PROVIDER_unload(default_);
    }
    static OSSL_PROVIDER* legacy_;
    static OSSL_PROVIDER* default_;
};
OSSL_PROVIDER* CipherTest::legacy_ = nullptr;
OSSL_PROVIDER* CipherTest::default_ = nullptr;

TEST_F(CipherTest, ReceivedFramesAreDecipheredFrameByFrame) {
    const unsigned long key = 0x0123456789abcdefUL;
    for (int type = 1; type <= 4; ++type) {
        SCOPED_TRACE(type);
        open();
        run([&] { channel_->set_cipher(static_cast<unsigned char>(type), key); });
        Bytes p1 = F::packet(7, 1, F::body(333, 4));
        Bytes p2 = F::packet(7, 2, F::body(333, 4));
        Bytes z = F::zero_frame(F::packet(7, 3, F::body(500, 5)));
        send(encipher(type, key, F::frame(p1)) + encipher(type, key, F::frame(p2)) +
             encipher(type, key, z) + F::interval_frame(10));
        drain();
        ASSERT_EQ(3u, count(7));
        run([&] {
            std::vector<Bytes> got = objects(flow(7));
            EXPECT_EQ(F::frame(p1), got[0]);
            EXPECT_EQ(F::frame(p2), got[1]);
            EXPECT_EQ(F::frame(F::packet(7, 3, F::body(500, 5))), got[2]);
            // Control frames are never enciphered.
            EXPECT_EQ(31u, channel_->get_heartbeat_timeout());
        });
        // An unknown type keeps the cipher in force.
        run([&] { channel_->set_cipher(7, key); });
        send(encipher(type, key, F::frame(F::packet(7, 4, F::body(20, 6)))));
        drain();
        EXPECT_EQ(4u, count(7));
        EXPECT_TRUE(session_->reasons.empty());
    }
}

// Published frames leave enciphered (and compressed when enabled); the
// heartbeat flow's frames leave in clear.
TEST_F(CipherTest, SentDataIsEncipheredAndHeartbeatsAreClear) {
    const unsigned long key = 0x1122334455667788UL;
    for (int type = 1; type <= 4; ++type) {
        for (bool compress : {false, true}) {
            SCOPED_TRACE(std::to_string(type) + (compress ? " compressed" : ""));
            open();
            XeloFlow* out = flow(30);
            std::vector<Bytes> frames;
            run([&] {
                channel_->set_cipher(static_cast<unsigned char>(type), key);
                if (compress) channel_->enable_compress();
                channel_->publish(out, nullptr, nullptr, nullptr, nullptr, nullptr);
                // Equal frames must give equal ciphertext: the counter restarts.
                for (int i = 0; i < 3; ++i) {
                    Bytes f = F::data_frame(30, 1, 200, i == 2 ? 9 : 1);
                    memcpy(out->alloc_object(f.size()), f.data(), f.size());
                    out->commit_object(f.size(), true);
                    frames.push_back(f);
                }
                channel_->send_heartbeat();
            });
            Bytes expected = F::heartbeat_frame();
            for (const Bytes& f : frames)
                expected += encipher(type, key, compress ? F::zero_frame(f.substr(6)) : f);
            Bytes got = receive(expected.size());
            EXPECT_EQ(expected, got);
            // Equal frames, equal ciphertext.
            size_t n =
                encipher(type, key, compress ? F::zero_frame(frames[0].substr(6)) : frames[0])
                    .size();
            EXPECT_EQ(got.substr(6, n), got.substr(6 + n, n));
            EXPECT_NE(got.substr(6, n), frames[0].substr(0, n));
        }
    }
}

// ---- writing ----

// Two flows written through a small socket buffer: every partial send must
// be completed before a new batch, so the peer sees whole frames of each
// flow in order.
TEST_F(ChannelTest, PartialSendsCompleteBeforeAnyNewBatch) {
    open();
    int small = 4096;
    int fd = 0;
    run([&] { fd = channel_->get_id(); });
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    // Not tiny on the peer: delayed acknowledgements would crawl.
    int window = 65536;
    setsockopt(peer_, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    const int N = 300;
    run([&] {
        channel_->publish(flow(40), nullptr, nullptr, nullptr, nullptr, nullptr);
        channel_->publish(flow(41), nullptr, nullptr, nullptr, nullptr, nullptr);
        for (int i = 0; i < N; ++i)
            for (unsigned short s : {40, 41}) {
                Bytes f = F::data_frame(s, i + 1, 100 + (i * 37) % 900, i);
                memcpy(flow(s)->alloc_object(f.size()), f.data(), f.size());
                flow(s)->commit_object(f.size(), true);
            }
    });
    // The peer reads nothing for a while: the channel must hold a tail.
    int pending = 0;
    for (int i = 0; i < 200 && pending == 0; ++i) {
        usleep(2000);
        run([&] { pending = channel_->get_pending(); });
    }
    EXPECT_GT(pending, 0);
    size_t total = 0;
    for (int i = 0; i < N; ++i) total += 2 * (26 + 100 + (i * 37) % 900);
    Bytes got = receive(total);
    ASSERT_EQ(total, got.size());
    unsigned long next[2] = {1, 1};
    for (size_t pos = 0; pos < got.size();) {
        unsigned int length = Base::load_be16(got.data() + pos + 2) + 4;
        const char* p = got.data() + pos + 6;
        unsigned short s = Base::load_be16(p + 2);
        ASSERT_TRUE(s == 40 || s == 41);
        unsigned long seq = Base::load_be32(p + 8);
        ASSERT_EQ(F::data_frame(s, seq, 100 + ((seq - 1) * 37) % 900, seq - 1),
                  got.substr(pos, length));
        EXPECT_EQ(next[s - 40]++, seq);
        pos += length;
    }
    EXPECT_TRUE(session_->reasons.empty());
    int result = 0;
    run([&] { result = channel_->write(); });
    EXPECT_EQ(XeloClientChannel::WRITE_IDLE, result);
}

// Malformed objects in a published flow close the channel when the batch
// has to be walked: -19 when compressing, -23 when enciphering.
TEST_F(ChannelTest, MalformedPublishedFramesCloseTheWriter) {
    struct Case {
        Bytes object;
        bool compress;
        int cipher;
        int reason;
    } cases[] = {
        {raw({2, 0, 0, 2, 1, 0}), true, 0, -19},          // content below 3
        {raw({2, 0, 0, 40, 1, 0, 0}), true, 0, -19},      // frame beyond the batch
        {raw({2, 0, 0, 0, 1, 0}), false, 3, -23},         // nothing to encipher
        {raw({2, 0, 0, 40, 1, 0, 0, 0}), false, 1, -23},  // frame beyond the batch
    };
    for (const Case& c : cases) {
        open();
        run([&] {
            if (c.compress) channel_->enable_compress();
            if (c.cipher) channel_->set_cipher(static_cast<unsigned char>(c.cipher), 99);
            channel_->publish(flow(60), nullptr, nullptr, nullptr, nullptr, nullptr);
            memcpy(flow(60)->alloc_object(c.object.size()), c.object.data(), c.object.size());
            flow(60)->commit_object(c.object.size(), true);
        });
        EXPECT_EQ(c.reason, wait_close());
    }
}

// Flows holding references are gathered frame by frame into the batch
// buffer; the frames go out stamped with the reading flow's numbering.
TEST_F(ChannelTest, ReferencedFramesAreSentWhole) {
    open();
    std::vector<Bytes> held;
    for (int i = 0; i < 20; ++i) held.push_back(F::data_frame(99, 500 + i, 100 + i * 50, i));
    XeloFlow* refs = flow(61);
    run([&] {
        XeloFlow::Writer writer(refs, true);
        for (const Bytes& f : held)
            writer.add_packet(reinterpret_cast<const Network::XmpPacket::Header*>(f.data()), true,
                              true);
        channel_->publish(refs, nullptr, nullptr, nullptr, nullptr, nullptr);
    });
    Bytes expected;
    for (int i = 0; i < 20; ++i) expected += F::data_frame(61, i + 1, 100 + i * 50, i);
    EXPECT_EQ(expected, receive(expected.size()));
}

TEST_F(ChannelTest, HeartbeatSpacingAndIntervalFrame) {
    const unsigned long S = 10000000UL;
    // (T - 1) / 3 whole seconds: 60 -> 19 s, 4 -> 1 s.
    EXPECT_FALSE(XeloClientChannel::heartbeat_due(100 * S + 19 * S - 1, 100 * S, 60));
    EXPECT_TRUE(XeloClientChannel::heartbeat_due(100 * S + 19 * S, 100 * S, 60));
    EXPECT_TRUE(XeloClientChannel::heartbeat_due(101 * S, 100 * S, 4));
    EXPECT_FALSE(XeloClientChannel::heartbeat_due(101 * S - 1, 100 * S, 4));
    open();
    run([&] {
        channel_->send_heartbeat();
        channel_->send_heartbeat();  // not due again yet
        channel_->set_heartbeat_timeout(181);
    });
    Bytes expected = F::heartbeat_frame() + raw({0, 6, 0, 0, 7, 4, 0, 0, 0, 60});
    EXPECT_EQ(expected, receive(expected.size()));
    usleep(20000);
    char extra;
    EXPECT_EQ(-1, recv(peer_, &extra, 1, MSG_DONTWAIT));
}

// ---- buffer blocking ----

TEST_F(ChannelTest, BufferBlockingDropsPacketsAndItsEndCloses) {
    open();
    run([&] { channel_->subscribe(flow(7), nullptr, 10, false); });
    Bytes stream;
    for (unsigned long s = 1; s <= 29; ++s) stream += F::data_frame(7, s, 20);
    send(stream);
    drain();
    run([&] { EXPECT_EQ(0, channel_->check_sub_buffer()); });
    EXPECT_EQ(1u, reporter_.lines().size());  // only "connect ok!"
    send(F::data_frame(7, 30, 20));
    drain();
    run([&] { channel_->check_sub_buffer(); });
    ASSERT_EQ(2u, reporter_.lines().size());
    EXPECT_EQ("5 FlowBufferBlocking buffer blocking -> ON! flow_subject=[0x0007] buffer_count=[30]",
              reporter_.lines()[1]);
    // Blocked: packets are dropped, even out-of-order ones.
    send(F::data_frame(7, 31, 20) + F::data_frame(7, 99, 20));
    drain();
    EXPECT_EQ(30u, count(7));
    run([&] {
        flow(7)->truncate(21);
        EXPECT_EQ(0, channel_->check_sub_buffer());
        flow(7)->truncate(20);
        EXPECT_EQ(-15, channel_->check_sub_buffer());
    });
    EXPECT_EQ(-15, wait_close());
    EXPECT_EQ(
        "5 FlowBufferBlocking buffer blocking -> OFF! flow_subject=[0x0007] buffer_count=[20]",
        reporter_.lines().back());
}

// ---- connection ----

TEST_F(ChannelTest, ConnectCallsTheSessionBeforeJoiningTheReactor) {
    bool linked_in_callback = true;
    bool heartbeat_published = false;
    session_ = std::make_unique<Session>();
    Base::DataFlow log(3, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    run([&] {
        channel_ = new XeloClientChannel(reactor_, session_.get(), &reporter_, 40);
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
    send(F::heartbeat_frame());
    drain();
    ::close(peer_);
    peer_ = -1;
    EXPECT_EQ(-11, wait_close());
    // The traffic log: connected (peer text), received, peer closed, closed.
    run([&] {
        std::vector<Bytes> records = objects(&log);
        ASSERT_EQ(4u, records.size());
        const int kinds[] = {0, 1, 6, 5};
        const int lengths[] = {10, 6, 0, 0};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(kinds[i], Base::load_be16(records[i].data() + 8));
            EXPECT_EQ(lengths[i], Base::load_be16(records[i].data() + 10));
        }
        EXPECT_EQ(Bytes("127.0.0.1", 10), records[0].substr(16));
        EXPECT_EQ(F::heartbeat_frame(), records[1].substr(16));
    });
    std::vector<std::string> lines = reporter_.lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("5 XeloClientChannel connect ok! [127.0.0.1] [" + std::to_string(port_) + "]",
              lines[0]);
    // Nothing listens on the closed listener's port any more.
    ::close(listener_);
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    run([&] { EXPECT_FALSE(channel_->connect("127.0.0.1", port_, 200)); });
    EXPECT_EQ("5 XeloClientChannel connect error! [127.0.0.1] [" + std::to_string(port_) + "]",
              reporter_.lines().back());
}

// A channel still open when its reactor is destroyed goes with it.
TEST_F(ChannelTest, ReactorDestroysAnOpenChannel) {
    open();
    channel_ = nullptr;  // the reactor owns it from here
    reactor_->stop();
    reactor_->join();
    delete reactor_;
    reactor_ = new Parallel::FdReactor(nullptr);
    ASSERT_TRUE(reactor_->create(true, nullptr));
    ASSERT_EQ(1u, session_->reasons.size());
    EXPECT_EQ(0, session_->reasons[0]);
}

// ---- allocation ----

TEST_F(ChannelTest, ReadPathAllocatesNothingPerFrame) {
    open(1, true);
    const unsigned long key = 0x55aa55aa55aa55aaUL;
    run([&] { channel_->set_cipher(3, key); });
    // Warm-up: the flows take their first memory blocks.
    Bytes warm;
    for (unsigned long s = 1; s <= 5; ++s) warm += encipher(3, key, F::data_frame(7, s, 300));
    send(warm);
    drain();
    g_allocations = 0;
    Bytes stream;
    for (unsigned long s = 6; s <= 1005; ++s) {
        Bytes p = F::packet(7, s, F::body(300, static_cast<unsigned int>(s)));
        stream += encipher(3, key, s % 2 ? F::zero_frame(p) : F::frame(p));
        if (s % 100 == 0) stream += F::interval_frame(20);
    }
    for (size_t pos = 0; pos < stream.size(); pos += 1000) {
        send(stream.substr(pos, 1000));
        if (pos % 50000 == 0) drain();
    }
    drain();
    EXPECT_EQ(1005u, count(7));
    EXPECT_EQ(0, g_allocations.load());
}

}  // namespace

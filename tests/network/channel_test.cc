#include "network/channel.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstring>
#include <fstream>

#include "base/byte_order.h"
#include "base/data_flow_iterator.h"
#include "channel_frames.h"
#include "tests/cipher/cipher_oracle.h"

using CipherTest::Bytes;
using CipherTest::from_hex;
using CipherTest::to_hex;

namespace {

// The abstract slots answered just enough to drive the base.
struct TestChannel : Network::Channel {
    TestChannel() : Network::Channel(nullptr, nullptr) {}
    int get_id() const override { return id; }
    Base::TcpSocket* get_socket() override { return nullptr; }
    bool listen(const char*, int) override { return false; }
    bool connect(const char*, int, int) override { return false; }
    int close(int reason) override { return reason; }
    int id = 7;
};

// Counts how often the log flow wakes its readers.
struct CountingGroup : Base::NotifyGroup {
    void wakeup(bool) override { wakeups.fetch_add(1, std::memory_order_relaxed); }
    void notify(Base::List*) override {}
    std::atomic<int> wakeups{0};
};

Bytes run(Network::Channel& c, const Bytes& in, bool decoding = false) {
    Bytes out(in.size());
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
        TestChannel ch;
        ch.set_cipher(Network::Channel::CIPHER_XOR, c.key);
        EXPECT_EQ(to_hex(run(ch, from_hex(c.in))), c.out);
        EXPECT_EQ(to_hex(run(ch, from_hex(c.out), true)), c.in);
    }
}

TEST(ChannelCipher, EveryTypeMatchesTheOracleAndRestartsEveryFrame) {
    std::mt19937 rng(20261206);
    for (unsigned char type = 1; type <= 4; ++type) {
        for (int round = 0; round < 40; ++round) {
            const unsigned long key = (static_cast<unsigned long>(rng()) << 32) | rng();
            TestChannel ch;
            ch.set_cipher(type, key);
            unsigned long stored[2];  // the key's bytes in host order, twice
            memcpy(stored, ch.get_key_block(), 16);
            ASSERT_TRUE(stored[0] == key && stored[1] == key);
            const Bytes frame = CipherTest::random_bytes(rng, round < 3 ? round : rng() % 8195);
            const std::string want_s =
                ChannelFrames::encipher_content(type, key, std::string(frame.begin(), frame.end()));
            const Bytes want(want_s.begin(), want_s.end());
            EXPECT_EQ(run(ch, frame), want) << int(type) << " " << frame.size();
            EXPECT_EQ(run(ch, frame), want);  // the same frame again: the same bytes
            EXPECT_EQ(run(ch, want, true), frame);
        }
    }
}

TEST(ChannelCipher, UnknownTypeKeepsCipherButTakesKeyBlock) {
    const unsigned long k1 = 0x1122334455667788UL, k2 = 0x99aabbccddeeff00UL;
    const Bytes frame = from_hex("00112233445566778899aabbccddeeff0102030405");
    for (unsigned char type = 1; type <= 4; ++type) {
        TestChannel ch, fresh;
        ch.set_cipher(type, k1);
        fresh.set_cipher(type, type == 1 ? k2 : k1);  // XOR keys from the key block
        ch.set_cipher(7, k2);
        ch.set_cipher(255, k2);
        EXPECT_EQ(ch.get_cipher_type(), type);
        unsigned long stored[2];
        memcpy(stored, ch.get_key_block(), 16);
        EXPECT_TRUE(stored[0] == k2 && stored[1] == k2);
        EXPECT_EQ(run(ch, frame), run(fresh, frame)) << int(type);
    }
    TestChannel none;
    unsigned char out[4] = {};
    none.set_cipher(5, k1);
    EXPECT_EQ(none.encode(out, out, 4), 0);  // still no cipher
    none.set_cipher(3, k1);
    EXPECT_EQ(none.decode(out, out, -1), 0);
}

TEST(ChannelLog, RecordsCarryNumberTimeKindLengthAndData) {
    Base::DataFlow flow(0, 1 << 20, 1 << 20, nullptr, nullptr, 0, nullptr, false, false);
    CountingGroup consumer;  // woken by every record
    Base::DataFlow::Iterator woken(&flow, &consumer, nullptr, nullptr);
    TestChannel ch;
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
    const Bytes big(65535, 0x5a);
    ch.write_log(Network::Channel::LOG_SENT, 65535, big.data());
    std::vector<std::pair<int, Bytes>> log;
    Base::DataFlow::Iterator it(&flow, nullptr, nullptr, nullptr);
    while (const Base::DataFlow::Iterator::Result* r = it.next()) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(r->data);
        const int n = Base::load_be16(p + 10);
        EXPECT_EQ(r->length, 16 + n);
        EXPECT_EQ(Base::load_be32(p), 0x01020304u);
        EXPECT_LE(time(nullptr) - static_cast<long>(Base::load_be32(p + 4)), 5);
        EXPECT_LT(Base::load_be32(p + 12), 1000000u);
        log.emplace_back(Base::load_be16(p + 8), Bytes(p + 16, p + 16 + n));
    }
    ASSERT_EQ(log.size(), 10u);
    EXPECT_EQ(consumer.wakeups.load(), 10);
    EXPECT_EQ(log[0], std::make_pair(0, Bytes{'1', '2', '7', '.', '0', '.', '0', '.', '1', 0}));
    EXPECT_EQ(log[1], std::make_pair(1, Bytes{0, 2, 0}));
    for (int k = 3; k <= 7; ++k) EXPECT_EQ(log[k - 1], std::make_pair(k, Bytes{}));
    EXPECT_EQ(log[7], std::make_pair(8, from_hex("040102030405060708")));
    // 65535 bytes do not fit one record: split, nothing lost.
    EXPECT_EQ(log[8], std::make_pair(2, Bytes(65519, 0x5a)));
    EXPECT_EQ(log[9], std::make_pair(2, Bytes(16, 0x5a)));
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

}  // namespace

// The front's dialogue over a real pair of channels on a socket pair, against
// a small client written here from the protocol rules (not the library's
// client): key exchange in every mode and cipher type, login, resume
// positions, requests, and the scripted faults with the close reasons the
// client sees.
#include "tools/front/front_dialogue.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/hash.h"
#include "base/hex.h"
#include "cipher/base64.h"
#include "cipher/pem.h"
#include "cipher/rsa.h"
#include "cipher/sm2.h"
#include "cipher/sm3.h"
#include "network/xelo_client_channel.h"
#include "tools/front/synthetic_market.h"
#include "tools/front/terminal_check.h"
#include "tools/front/topic_board.h"
#include "tools/front/user_table.h"

namespace {

using Front::FrontDialogue;
using Front::KeyReply;
using Network::XeloClientChannel;
using Network::XeloFlow;
using Network::XeloPacket;

const unsigned int MIB = 1 << 20;
const int TOPIC = 100;

struct Received {
    unsigned int tid;
    unsigned int request_id;
    int error_id;
    std::vector<Field::XelDisseminationField> topics;
    std::string session_text;
    int challenge;
};

// The client: an init flow it writes, a response flow and topic flows it
// receives; topic flows are made when announced, at the announced position.
struct MiniClient : Base::DataFlow::WriteCallback {
    XeloClientChannel channel{nullptr, nullptr, nullptr, 1};
    XeloFlow init{0, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false};
    XeloFlow::Writer writer{&init, false};
    XeloFlow responses{1, MIB, MIB, nullptr, this, 0, nullptr, false, false};
    std::map<int, std::unique_ptr<XeloFlow>> topics;
    std::map<int, std::vector<unsigned long>> topic_sequences;
    std::vector<Received> got;
    Cipher::Sm2 sm2{true};
    char key_text[301] = {0};
    int last_read = 0;

    virtual ~MiniClient() = default;

    void start(int fd) {
        ASSERT_TRUE(channel.create(fd));
        channel.publish(&init, nullptr, nullptr, nullptr, nullptr, nullptr);
        channel.subscribe(&responses, nullptr, 0, false);
    }

    void on_write(unsigned long, const void* data, unsigned short) override {
        XeloPacket::Header h;
        const char* fields = XeloFlow::decode(static_cast<const char*>(data), &h);
        if (h.sequence_series != 1) {
            topic_sequences[h.sequence_series].push_back(XeloPacket::get_sequence(&h));
            return;
        }
        XeloPacket::Iterator it(&h, fields);
        Received r = {h.tid, h.request_id, -1, {}, "", 0};
        for (int id = it.next(); id >= 0; id = it.next()) {
            if (id == 0x0003) {
                Field::XelRspInfoField info;
                it.get_field(&info, &Field::XelRspInfoField::from_stream, false);
                r.error_id = info.ErrorID;
            } else if (id == 0x0001) {
                Field::XelDisseminationField d;
                it.get_field(&d, &Field::XelDisseminationField::from_stream, false);
                r.topics.push_back(d);
            } else if (id == 0x8017) {
                Field::XelUserapiSessionAuthInfoField s;
                it.get_field(&s, &Field::XelUserapiSessionAuthInfoField::from_stream, false);
                r.session_text = s.EncryptUserApiInfo;
            } else if (id == 0x800A) {
                Field::XelUserapiInitAuthInfoField v;
                it.get_field(&v, &Field::XelUserapiInitAuthInfoField::from_stream, false);
                r.challenge = v.InitEncryptInfo;
            }
        }
        if (h.tid == 0x5901) {
            for (const auto& d : r.topics) {
                auto flow = std::make_unique<XeloFlow>(d.SequenceSeries, MIB, MIB, nullptr, this,
                                                       d.SequenceNo, nullptr, false, false);
                channel.subscribe(flow.get(), nullptr, 0, false);
                topics[d.SequenceSeries] = std::move(flow);
            }
        }
        got.push_back(r);
    }

    void send_key_exchange() {
        char x[65], y[65];
        sm2.gen_keys();
        sm2.get_public_key(x, y);
        snprintf(key_text, sizeof key_text, "%02X%s%02X%s", (int)strlen(x), x, (int)strlen(y), y);
        XeloPacket* p = writer.alloc_packet(0x6091, 0);
        Field::XelUserapiInitAuthInfoField v = {25081835};
        p->add_field(&v.DESC, &v, &Field::XelUserapiInitAuthInfoField::to_stream);
        Field::XelUserapiSessionAuthInfoField s;
        memset(&s, 0, sizeof s);
        strcpy(s.EncryptUserApiInfo, key_text);
        p->add_field(&s.DESC, &s, &Field::XelUserapiSessionAuthInfoField::to_stream);
        writer.commit_packet(true);
    }

    // The reply's text to a cipher: "0"; 'A'+type and 16 digits of the key
    // XOR the mask; '0'+type and an SM2 ciphertext. False for anything else.
    bool apply_key(const std::string& text) {
        if (text == "0") return true;
        unsigned char c = static_cast<unsigned char>(text[0]);
        unsigned char bytes[128];
        unsigned long key = 0;
        if (c >= 'A' && (text.size() - 1) / 2 == 8) {
            Base::hex_to_bytes(text.c_str() + 1, reinterpret_cast<char*>(bytes), 8);
            for (int i = 7; i >= 0; --i) key = key << 8 | bytes[i];
            Cipher::Sm3 sm3;
            sm3.update(key_text, 132);
            sm3.final();
            const unsigned char* d = sm3.digest;
            auto le32 = [](const unsigned char* p) {
                return static_cast<unsigned int>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
            };
            unsigned long h1 = Base::Hash::calc(d, 16, le32(d + 16));
            unsigned long h2 = Base::Hash::calc(d + 16, 16, le32(d));
            key ^= h1 << 32 | h2;
            channel.set_cipher(static_cast<unsigned char>(c - 'A'), key);
            return true;
        }
        if (c < '0') return false;
        int n = static_cast<int>(text.size() - 1) / 2;
        Base::hex_to_bytes(text.c_str() + 1, reinterpret_cast<char*>(bytes), n);
        unsigned char plain[128];
        int plain_len = 0;
        if (!sm2.decode(nullptr, plain_len, bytes, n) || plain_len != 8 ||
            !sm2.decode(plain, plain_len, bytes, n))
            return false;
        for (int i = 7; i >= 0; --i) key = key << 8 | plain[i];
        channel.set_cipher(static_cast<unsigned char>(c - '0'), key);
        return true;
    }

    void send_login(const char* user, const char* password, long from, const char* terminal) {
        XeloPacket* p = writer.alloc_packet(0x1001, 0);
        p->header.request_id = 5;
        Field::XelReqUserLoginField r;
        memset(&r, 0, sizeof r);
        strcpy(r.UserID, user);
        strcpy(r.Password, password);
        strcpy(r.UserProductInfo, "test");
        p->add_field(&r.DESC, &r, &Field::XelReqUserLoginField::to_stream);
        Field::XelDisseminationField d = {TOPIC, static_cast<int>(from)};
        p->add_field(&d.DESC, &d, &Field::XelDisseminationField::to_stream);
        if (terminal != nullptr) {
            Field::XelUserapiAuthenticInfoField a;
            memset(&a, 0, sizeof a);
            strcpy(a.EncryptUserApiInfo, terminal);
            p->add_field(&a.DESC, &a, &Field::XelUserapiAuthenticInfoField::to_stream);
        }
        writer.commit_packet(true);
    }

    void send(unsigned short tid, const void* record, const Base::FieldDesc* desc,
              XeloPacket::ToStream to_stream, unsigned int request_id) {
        XeloPacket* p = writer.alloc_packet(tid, 0);
        p->header.request_id = request_id;
        p->add_field(desc, record, to_stream);
        writer.commit_packet(true);
    }

    const Received* find(unsigned int tid) const {
        for (const auto& r : got)
            if (r.tid == tid) return &r;
        return nullptr;
    }
};

// One connection: the front's channel and dialogue, the client, a market.
struct Bench {
    Front::UserTable users;
    Front::TopicBoard board;
    Front::FrontContext context;
    std::unique_ptr<Front::SyntheticMarket> market;
    XeloClientChannel server{nullptr, nullptr, nullptr, 1};
    std::unique_ptr<FrontDialogue> dialogue;
    MiniClient client;

    explicit Bench(KeyReply::Mode mode, int type,
                   const std::vector<Front::Scenario::Fault>& faults = {}) {
        std::string error;
        EXPECT_TRUE(users.parse(
            R"({"users": [{"user": "demo", "password": "pw", "participant": "P1"}]})", error));
        context.key_mode = mode;
        context.cipher_type = type;
        context.users = &users;
        context.topics = &board;
        board.add(TOPIC);
        market.reset(new Front::SyntheticMarket(Front::SyntheticMarket::Config()));
        publish(30);
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        EXPECT_TRUE(server.create(fds[0]));
        dialogue.reset(new FrontDialogue(&context, 1, faults));
        dialogue->attach(&server);
        client.start(fds[1]);
    }

    void publish(int n) {
        for (int i = 0; i < n; ++i) {
            market->step(i % 4, "09:30:00", i);
            market->write_snapshot(board.get_writer(0), i % 4);
        }
    }

    // Runs both ends until done() holds or the rounds run out.
    template <typename F>
    bool pump(F done) {
        for (int round = 0; round < 400; ++round) {
            if (server.is_valid()) {
                server.write();
                server.read();
            }
            if (client.channel.is_valid()) {
                client.channel.write();
                int rc = client.channel.read();
                if (rc < 0) client.last_read = rc;
            }
            if (done()) return true;
            usleep(round < 20 ? 0 : 1000);
        }
        return false;
    }

    void key_exchange() {
        client.send_key_exchange();
        ASSERT_TRUE(pump([&] { return client.find(0x6092) != nullptr; }));
        const Received* r = client.find(0x6092);
        ASSERT_EQ(r->error_id, 0);
        ASSERT_TRUE(client.apply_key(r->session_text)) << r->session_text;
    }
};

TEST(FrontDialogue, KeyExchangeInEveryModeThenLoginAndResume) {
    struct {
        KeyReply::Mode mode;
        int type;
    } cases[] = {{KeyReply::NO_CIPHER, 0}, {KeyReply::MASKED, 1}, {KeyReply::MASKED, 2},
                 {KeyReply::MASKED, 3},    {KeyReply::MASKED, 4}, {KeyReply::SM2, 0},
                 {KeyReply::SM2, 1},       {KeyReply::SM2, 2},    {KeyReply::SM2, 3},
                 {KeyReply::SM2, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(KeyReply::get_name(c.mode)) + " type " + std::to_string(c.type));
        Bench b(c.mode, c.type);
        b.key_exchange();
        EXPECT_EQ(b.server.get_cipher_type(), c.mode == KeyReply::NO_CIPHER ? 0 : c.type);
        // Resume from 10 of 30: packets 11..30 first, then what comes later.
        b.client.send_login("demo", "pw", 10, nullptr);
        auto& seen = b.client.topic_sequences[TOPIC];
        ASSERT_TRUE(b.pump([&] { return seen.size() >= 20; }));
        const Received* login = b.client.find(0x1002);
        ASSERT_NE(login, nullptr);
        EXPECT_EQ(login->error_id, 0);
        const Received* ann = b.client.find(0x5901);
        ASSERT_NE(ann, nullptr);
        ASSERT_EQ(ann->topics.size(), 1u);
        EXPECT_EQ(ann->topics[0].SequenceNo, 10);
        b.publish(5);
        ASSERT_TRUE(b.pump([&] { return seen.size() >= 25; }));
        for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], 11 + i);
        EXPECT_TRUE(b.client.channel.is_valid());
    }
}

TEST(FrontDialogue, LoginErrorsRequestsAndResumeFromNow) {
    Bench b(KeyReply::MASKED, 4);
    b.key_exchange();
    b.client.send_login("demo", "bad", 0, nullptr);
    ASSERT_TRUE(b.pump([&] { return b.client.find(0x1002) != nullptr; }));
    EXPECT_EQ(b.client.find(0x1002)->error_id, Front::UserTable::WRONG_PASSWORD);
    EXPECT_EQ(b.client.find(0x5901), nullptr) << "no topic before a good login";

    b.client.got.clear();
    b.client.send_login("demo", "pw", -1, nullptr);  // from now
    ASSERT_TRUE(b.pump([&] { return b.client.find(0x5901) != nullptr; }));
    EXPECT_EQ(b.client.find(0x5901)->topics[0].SequenceNo, 30);
    b.publish(2);
    ASSERT_TRUE(b.pump([&] { return b.client.topic_sequences[TOPIC].size() == 2; }));
    EXPECT_EQ(b.client.topic_sequences[TOPIC][0], 31u);

    Field::XelDisseminationField all = {0, 0};
    b.client.send(0x4201, &all, &all.DESC, &Field::XelDisseminationField::to_stream, 11);
    Field::XelDisseminationField unknown = {77, 0};
    b.client.send(0x1F01, &unknown, &unknown.DESC, &Field::XelDisseminationField::to_stream, 12);
    Field::XelUserPasswordUpdateField pw;
    memset(&pw, 0, sizeof pw);
    strcpy(pw.UserID, "demo");
    strcpy(pw.ParticipantID, "P1");
    strcpy(pw.OldPassword, "pw");
    strcpy(pw.NewPassword, "pw2");
    b.client.send(0x100F, &pw, &pw.DESC, &Field::XelUserPasswordUpdateField::to_stream, 13);
    Field::XelReqUserLogoutField out;
    memset(&out, 0, sizeof out);
    strcpy(out.UserID, "demo");
    b.client.send(0x1003, &out, &out.DESC, &Field::XelReqUserLogoutField::to_stream, 14);
    b.client.send(0x4011, &all, &all.DESC, &Field::XelDisseminationField::to_stream, 15);
    ASSERT_TRUE(b.pump([&] { return b.client.find(0x0001) != nullptr; }));
    const Received* q = b.client.find(0x4202);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->request_id, 11u);
    ASSERT_EQ(q->topics.size(), 1u);
    EXPECT_EQ(q->topics[0].SequenceNo, 32);
    EXPECT_EQ(b.client.find(0x1F02)->error_id, FrontDialogue::UNKNOWN_TOPIC);
    EXPECT_EQ(b.client.find(0x1010)->error_id, 0);
    EXPECT_EQ(b.users.check("demo", "pw2", nullptr), 0);
    EXPECT_EQ(b.client.find(0x1004)->error_id, 0);
    EXPECT_EQ(b.client.find(0x0001)->error_id, FrontDialogue::UNSUPPORTED);
    EXPECT_EQ(b.client.find(0x0001)->request_id, 15u);
    EXPECT_EQ(b.dialogue->get_stage(), FrontDialogue::KEYED);
}

TEST(FrontDialogue, TerminalInformationIsCheckedWithThePrivateKey) {
    Front::TerminalCheck check;
    std::string error;
    std::string pem = std::string(XELMD_SOURCE_DIR) + "/tools/keys/terminal_rsa_private.pem";
    ASSERT_TRUE(check.load(pem.c_str(), error)) << error;
    // The public half, as the client holds it: the modulus and 65537.
    std::string text;
    FILE* f = fopen(pem.c_str(), "rb");
    char buf[4096];
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = 0;
    char mod[512], d[512];
    int mod_len = sizeof mod, d_len = sizeof d;
    ASSERT_TRUE(Cipher::Pem::parse_rsa_private_key(buf, mod, mod_len, d, d_len, nullptr));
    const char e[] = {1, 0, 1};
    Cipher::Rsa rsa;
    ASSERT_TRUE(rsa.set_keys(mod, mod_len, e, 3, nullptr, 0));
    auto info = [&](const char* plain) {
        char cipher[256];
        int len = sizeof cipher;
        EXPECT_TRUE(rsa.encode_oaep(cipher, len, plain, static_cast<int>(strlen(plain))));
        char block[300];
        int head = snprintf(block, sizeof block, "#%d", len) + 1;
        memcpy(block + head, cipher, static_cast<size_t>(len));
        char out[420] = {0};
        int out_len = sizeof out;
        Cipher::Base64::encode(out, out_len, block, head + len);
        return std::string(out, static_cast<size_t>(out_len));
    };
    std::string detail;
    EXPECT_TRUE(check.check(info("123456780").c_str(), 12345678, detail)) << detail;
    EXPECT_FALSE(check.check(info("123456790").c_str(), 12345678, detail));
    EXPECT_NE(detail.find("expected 12345678"), std::string::npos) << detail;
    EXPECT_FALSE(check.check("", 1, detail));
    EXPECT_EQ(detail, "missing");
    EXPECT_FALSE(check.check("abc", 1, detail));
    EXPECT_FALSE(check.check("QUJDRA==", 1, detail));
}

TEST(FrontDialogue, ScriptedFaultsGiveTheClientsCloseReason) {
    using Front::Scenario;
    struct {
        Scenario::Action action;
        int reason;  // what the client's channel closes with
    } cases[] = {
        {Scenario::DROP, XeloClientChannel::CLOSE_PEER},
        {Scenario::BAD_SEQUENCE, XeloClientChannel::CLOSE_SEQUENCE},
        {Scenario::OVERSIZED_FRAME, XeloClientChannel::CLOSE_LENGTH},
        {Scenario::GARBAGE, XeloClientChannel::CLOSE_PROTOCOL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Scenario::get_name(c.action));
        Scenario::Fault fault = {c.action, 1000, 1, 0, 64};
        Bench b(KeyReply::SM2, 3, {fault});
        b.key_exchange();
        b.client.send_login("demo", "pw", 0, nullptr);
        ASSERT_TRUE(b.pump([&] { return b.client.topic_sequences[TOPIC].size() == 30; }));
        b.dialogue->on_timer(50000);  // login seen at 50 s
        b.dialogue->on_timer(50999);
        EXPECT_TRUE(b.client.channel.is_valid()) << "not due before one second";
        b.dialogue->on_timer(51000);
        ASSERT_TRUE(b.pump([&] { return !b.client.channel.is_valid(); }));
        EXPECT_EQ(b.client.last_read, c.reason);
    }

    // A stall holds everything back, heartbeats included, until it ends.
    Scenario::Fault stall = {Scenario::STALL, 0, 1, 2, 64};
    Bench b(KeyReply::MASKED, 1, {stall});
    b.key_exchange();
    b.client.send_login("demo", "pw", 30, nullptr);
    ASSERT_TRUE(b.pump([&] { return b.client.find(0x5901) != nullptr; }));
    b.dialogue->on_timer(1000);
    b.publish(3);
    b.server.send_heartbeat();
    EXPECT_FALSE(b.pump([&] { return !b.client.topic_sequences[TOPIC].empty(); }));
    b.dialogue->on_timer(3000);
    ASSERT_TRUE(b.pump([&] { return b.client.topic_sequences[TOPIC].size() == 3; }));
    EXPECT_EQ(b.client.topic_sequences[TOPIC][0], 31u);

    // A key error: the reply holds a key the client cannot use.
    Scenario::Fault key = {Scenario::KEY_ERROR, 0, 1, 0, 64};
    Bench k(KeyReply::SM2, 4, {key});
    k.client.send_key_exchange();
    ASSERT_TRUE(k.pump([&] { return k.client.find(0x6092) != nullptr; }));
    EXPECT_FALSE(k.client.apply_key(k.client.find(0x6092)->session_text));
    Scenario::Fault refused = {Scenario::KEY_REFUSED, 0, 1, 0, 64};
    Bench r(KeyReply::SM2, 4, {refused});
    r.client.send_key_exchange();
    ASSERT_TRUE(r.pump([&] { return r.client.find(0x6092) != nullptr; }));
    EXPECT_EQ(r.client.find(0x6092)->error_id, FrontDialogue::KEY_REFUSED);
}

}  // namespace

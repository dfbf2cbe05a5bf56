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
#include "mini_client.h"
#include "network/xelo_client_channel.h"
#include "tools/front/synthetic_market.h"
#include "tools/front/terminal_check.h"
#include "tools/front/topic_board.h"
#include "tools/front/user_table.h"

namespace {

using Front::FrontDialogue;
using Front::KeyReply;
using Mini::MiniClient;
using Mini::Received;
using Network::XeloClientChannel;
using Network::XeloFlow;
using Network::XeloPacket;

const unsigned int MIB = 1 << 20;
const int TOPIC = 100;

// One connection: the front's channel and dialogue, the client, a market.
struct Bench {
    Front::UserTable users;
    Front::TopicBoard board;
    Front::FrontContext context;
    std::unique_ptr<Front::SyntheticMarket> market;
    // The dialogue outlives the channel that reads its flows.
    std::unique_ptr<FrontDialogue> dialogue;
    XeloClientChannel server{nullptr, nullptr, nullptr, 1};
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

TEST(FrontDialogue, ResumePositionsAreClampedToWhatTheTopicHolds) {
    // A topic flow that starts at 100 (older packets gone) and holds 100..129.
    XeloFlow flow(TOPIC, MIB, MIB, nullptr, nullptr, 100, nullptr, false, false);
    XeloFlow::Writer writer(&flow, false);
    for (int i = 0; i < 30; ++i) {
        writer.alloc_packet(0x5803, 0);
        writer.commit_packet(false);
    }
    struct {
        long asked;
        unsigned long served;
    } cases[] = {{-1, 130}, {0, 100}, {99, 100}, {100, 100}, {117, 117}, {130, 130}, {5000, 130}};
    for (const auto& c : cases)
        EXPECT_EQ(Front::TopicBoard::serve_from(&flow, c.asked), c.served) << c.asked;
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

// The front's dialogue over a real pair of channels on a socket pair, against
// a client made of the library's own pieces (its key exchange, channel and
// flows) that records what it gets: key exchange, login, resume positions,
// a history bounded by the recycler, requests, a scripted fault's time and
// key refusal. Every key mode and cipher type, and each fault's close reason,
// is the end-to-end test's.
#include "tools/front/front_dialogue.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "api/api_info.h"
#include "api/key_exchange.h"
#include "cipher/sm2.h"
#include "field/xelfield.h"
#include "network/xelo_client_channel.h"
#include "tests/test_table.h"
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
const short TOPIC = 100;
const char* const TABLE = "tools/front/front_dialogue.data";

struct Received {
    unsigned int tid, request_id;
    int error_id;
    std::vector<Field::XelDisseminationField> topics;
    std::string session_text;
};

template <typename R>
bool take(XeloPacket::Iterator& it, int id, R& record) {
    if (id != R::DESC.field_id) return false;
    it.get_field(&record, &R::from_stream, false);
    return true;
}

// The client: an init flow it writes, a response flow and topic flows it
// receives; topic flows are made when announced, at the announced position.
struct Client : Base::DataFlow::WriteCallback {
    XeloFlow init{0, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false};
    XeloFlow::Writer writer{&init, false};
    XeloFlow responses{1, MIB, MIB, nullptr, this, 0, nullptr, false, false};
    std::map<int, std::unique_ptr<XeloFlow>> topics;
    std::map<int, std::vector<unsigned long>> topic_sequences;
    std::vector<Received> got;
    Cipher::Sm2 sm2{true};
    char key_text[Api::KeyExchange::TEXT_SIZE];
    // Last, so that it closes (deleting its readers) before the flows go.
    XeloClientChannel channel{nullptr, nullptr, nullptr, 1};

    virtual ~Client() = default;

    void on_write(unsigned long, const void* data, unsigned short length) override {
        XeloPacket::Header h;
        const char* fields = XeloFlow::decode(static_cast<const char*>(data), length, &h);
        ASSERT_NE(fields, nullptr);
        if (h.sequence_series != 1) {
            topic_sequences[h.sequence_series].push_back(XeloPacket::get_sequence(&h));
            return;
        }
        XeloPacket::Iterator it(&h, fields);
        Received r = {h.tid, h.request_id, -1, {}, ""};
        Field::XelRspInfoField info;
        Field::XelDisseminationField d;
        Field::XelUserapiSessionAuthInfoField s;
        for (int id = it.next(); id >= 0; id = it.next()) {
            if (take(it, id, info)) r.error_id = info.ErrorID;
            if (take(it, id, d)) r.topics.push_back(d);
            if (take(it, id, s)) r.session_text = s.EncryptUserApiInfo;
        }
        for (const auto& t : r.topics) {
            if (h.tid != 0x5901) break;
            auto flow = std::make_unique<XeloFlow>(t.SequenceSeries, MIB, MIB, nullptr, this,
                                                   t.SequenceNo, nullptr, false, false);
            channel.subscribe(flow.get(), nullptr, 0, false);
            topics[t.SequenceSeries] = std::move(flow);
        }
        got.push_back(r);
    }

    // One packet of the given records.
    template <typename... R>
    void send(unsigned short tid, unsigned int request_id, const R&... records) {
        XeloPacket* p = writer.alloc_packet(tid, 0);
        p->header.request_id = request_id;
        (p->add_field(&R::DESC, &records, &R::to_stream), ...);
        writer.commit_packet(true);
    }
    void send_key_exchange() {
        Api::KeyExchange::build_text(&sm2, key_text);
        Field::XelUserapiSessionAuthInfoField s = {};
        memcpy(s.EncryptUserApiInfo, key_text, sizeof s.EncryptUserApiInfo - 1);
        send(0x6091, 0, Field::XelUserapiInitAuthInfoField{25081835}, s);
    }
    // The channel cipher the reply's text gives, as the library takes it;
    // false for a text it refuses.
    bool apply_key(const std::string& text) {
        unsigned char type = 0;
        unsigned long key = 0;
        int rc = Api::KeyExchange::derive_key(&sm2, key_text, text.c_str(), type, key);
        if (rc == 1) channel.set_cipher(type, key);
        return rc >= 0;
    }
    void send_login(const char* user, const char* password, long from) {
        Field::XelReqUserLoginField r = {};
        strcpy(r.UserID, user);
        strcpy(r.Password, password);
        strcpy(r.UserProductInfo, "test");
        send(0x1001, 0, r, Field::XelDisseminationField{TOPIC, static_cast<int>(from)});
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
    Front::TerminalCheck terminal;  // the client below sends no terminal information
    Front::TopicBoard board{MIB};
    Front::FrontContext context;
    Front::SyntheticMarket market{Front::SyntheticMarket::Config()};
    // The dialogue outlives the channel that reads its flows.
    std::unique_ptr<FrontDialogue> dialogue;
    XeloClientChannel server{nullptr, nullptr, nullptr, 1};
    Client client;

    explicit Bench(KeyReply::Mode mode, int type,
                   const std::vector<Front::Scenario::Fault>& faults = {}) {
        std::string error;
        EXPECT_TRUE(users.parse(
            R"({"users": [{"user": "demo", "password": "pw", "participant": "P1"}]})", error));
        context.key_mode = mode;
        context.cipher_type = type;
        EXPECT_TRUE(terminal.load(XELMD_SOURCE_DIR "/tools/keys/terminal_rsa_private.pem", error));
        context.users = &users;
        context.terminal = &terminal;
        context.topics = &board;
        board.add(TOPIC);
        publish(30);
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        EXPECT_TRUE(server.create(fds[0]));
        dialogue.reset(new FrontDialogue(&context, 1, faults));
        dialogue->attach(&server);
        EXPECT_TRUE(client.channel.create(fds[1]));
        client.channel.publish(&client.init, nullptr, nullptr, nullptr, nullptr, nullptr);
        client.channel.subscribe(&client.responses, nullptr, 0, false);
    }

    void publish(int n) {
        for (int i = 0; i < n; ++i) {
            market.step(i % 4, "09:30:00", i);
            market.write_snapshot(board.get_writer(0), i % 4);
        }
    }

    // Runs both ends until done() holds or the rounds run out.
    template <typename F>
    bool pump(F done, int rounds = 400) {
        for (int round = 0; round < rounds; ++round) {
            for (XeloClientChannel* c : {&server, &client.channel}) {
                if (!c->is_valid()) continue;
                c->write();
                c->read();
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
    std::vector<unsigned long>& seen() { return client.topic_sequences[TOPIC]; }
};

TEST(FrontDialogue, ResumePositionsAreClampedToWhatTheTopicHolds) {
    // A topic flow that starts at 100 (older packets gone) and holds 100..129.
    XeloFlow flow(TOPIC, MIB, MIB, nullptr, nullptr, 100, nullptr, false, false);
    XeloFlow::Writer writer(&flow, false);
    for (int i = 0; i < 30; ++i) {
        writer.alloc_packet(0x5803, 0);
        writer.commit_packet(false);
    }
    for (const TestTable::Row& r : TestTable::read(TABLE, "serve"))
        EXPECT_EQ(Front::TopicBoard::serve_from(&flow, std::stol(r[1]), std::stoul(r[2])),
                  std::stoul(r[3]))
            << TestTable::where(TABLE, r);
}

// A topic's history bounded by its recycler, run here by hand: with 1 MiB
// blocks, 8000 snapshots fill several.
const unsigned long KEEP = 500;
const int MANY = 8000;

// Served from the oldest held; then, while the client reads nothing, what it
// has not read is never recycled; logged out, it holds nothing back.
TEST(FrontDialogue, RecycledHistoryIsServedFromTheOldestHeldAndNeverUnderAReader) {
    Bench b(KeyReply::MASKED, 4);
    b.board.start_recycling(nullptr, KEEP);
    b.publish(MANY);
    EXPECT_TRUE(b.board.recycle());
    // What is held beyond keep: the blocks the recycler leaves (the current
    // one, the target's own and the one before it).
    const XeloFlow* flow = b.board.get_flow(0);
    EXPECT_LT(flow->get_count() - flow->get_recycle_count(), KEEP + 3 * MANY / 5);
    const unsigned long oldest = flow->get_count() - KEEP;
    EXPECT_EQ(b.board.get_oldest(0), oldest);
    b.key_exchange();
    b.client.send_login("demo", "pw", 0);
    ASSERT_TRUE(b.pump([&] { return b.seen().size() >= KEEP; }, 4000));
    EXPECT_EQ(b.client.find(0x5901)->topics[0].SequenceNo, static_cast<int>(oldest));
    const unsigned long read = flow->get_count();
    for (int i = 0; i < 8; ++i) {
        b.publish(MANY / 8);
        b.board.recycle();
    }
    EXPECT_LE(flow->get_recycle_count(), read);
    const unsigned long total = flow->get_count();
    ASSERT_TRUE(b.pump([&] { return b.seen().size() >= total - oldest; }, 8000));
    EXPECT_EQ(b.seen().size(), total - oldest);
    for (size_t i = 0; i < b.seen().size(); ++i) ASSERT_EQ(b.seen()[i], oldest + 1 + i) << i;
    Field::XelReqUserLogoutField out = {};
    strcpy(out.UserID, "demo");
    b.client.send(0x1003, 2, out);
    ASSERT_TRUE(b.pump([&] { return b.client.find(0x1004) != nullptr; }));
    b.publish(MANY);
    b.board.recycle();
    EXPECT_GT(flow->get_recycle_count(), total);
}

// A client sending requests as fast as it can: the dialogue gives back the
// memory of the requests it has handled and the answers it has sent, so it
// holds a few blocks however long the flood lasts (keeping them all, its two
// flows would hold two packets per request).
TEST(FrontDialogue, RequestFloodHoldsBoundedMemory) {
    Bench b(KeyReply::MASKED, 4);
    const unsigned long FLOOD = 400000, BATCH = 4000;
    unsigned long answered = 0, most_held = 0;
    for (unsigned long sent = BATCH; sent <= FLOOD; sent += BATCH) {
        for (unsigned long i = 0; i < BATCH; ++i)
            b.client.send(0x4201, 1, Field::XelDisseminationField{0, 0});
        ASSERT_TRUE(b.pump([&] {
            answered += b.client.got.size();
            b.client.got.clear();
            return answered == sent;
        }));
        most_held = std::max(most_held, b.dialogue->get_held());
    }
    EXPECT_LT(most_held, FLOOD / 2);
}

TEST(FrontDialogue, LoginErrorsRequestsAndResumeFromNow) {
    Bench b(KeyReply::MASKED, 4);
    b.key_exchange();
    b.client.send_login("demo", "bad", 0);
    ASSERT_TRUE(b.pump([&] { return b.client.find(0x1002) != nullptr; }));
    EXPECT_EQ(b.client.find(0x1002)->error_id, Front::UserTable::WRONG_PASSWORD);
    EXPECT_EQ(b.client.find(0x5901), nullptr) << "no topic before a good login";

    b.client.got.clear();
    b.client.send_login("demo", "pw", -1);  // from now
    ASSERT_TRUE(b.pump([&] { return b.client.find(0x5901) != nullptr; }));
    EXPECT_EQ(b.client.find(0x5901)->topics[0].SequenceNo, 30);
    b.publish(2);
    ASSERT_TRUE(b.pump([&] { return b.seen().size() == 2; }));
    EXPECT_EQ(b.seen()[0], 31u);

    Field::XelUserPasswordUpdateField pw = {};
    strcpy(pw.UserID, "demo");
    strcpy(pw.ParticipantID, "P1");
    strcpy(pw.OldPassword, "pw");
    strcpy(pw.NewPassword, "pw2");
    Field::XelReqUserLogoutField out = {};
    strcpy(out.UserID, "demo");
    b.client.send(0x4201, 11, Field::XelDisseminationField{0, 0});  // every topic
    b.client.send(0x1F01, 12, Field::XelDisseminationField{77, 0});
    b.client.send(0x100F, 13, pw);
    b.client.send(0x1003, 14, out);
    b.client.send(0x4011, 15, Field::XelDisseminationField{0, 0});  // not a request
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

// The library's terminal information, opened with the private key.
TEST(FrontDialogue, TerminalInformationIsCheckedWithThePrivateKey) {
    Front::TerminalCheck check;
    std::string error, detail;
    ASSERT_TRUE(check.load(XELMD_SOURCE_DIR "/tools/keys/terminal_rsa_private.pem", error))
        << error;
    char info[Api::ENCRYPTED_INFO_SIZE];
    ASSERT_NE(Api::encrypt_api_info(info, 12345678, '0'), 0);
    EXPECT_TRUE(check.check(info, 12345678, detail)) << detail;
    ASSERT_NE(Api::encrypt_api_info(info, 12345679, '0'), 0);
    EXPECT_FALSE(check.check(info, 12345678, detail));
    EXPECT_EQ(detail, "holds \"123456790\", expected 12345678 and a mode character");
    for (const TestTable::Row& r : TestTable::read(TABLE, "terminal")) {
        EXPECT_FALSE(check.check(r[1].c_str(), 1, detail));
        EXPECT_EQ(detail, r[2]) << TestTable::where(TABLE, r);
    }
}

// When a fault falls due, and a refused key exchange. Each fault's close
// reason with the reconnection after it, and a stall that ends, are the
// end-to-end tests'.
TEST(FrontDialogue, ScriptedFaultTimeAndKeyRefusal) {
    using Front::Scenario;
    // A fault falls due one second after the login is seen.
    Bench b(KeyReply::MASKED, 1, {{Scenario::DROP, 1000, 1, 0, 64}});
    b.key_exchange();
    b.client.send_login("demo", "pw", 30);
    ASSERT_TRUE(b.pump([&] { return b.client.find(0x5901) != nullptr; }));
    b.dialogue->on_timer(50000);  // login seen at 50 s
    b.dialogue->on_timer(50999);
    EXPECT_TRUE(b.server.is_valid());
    b.dialogue->on_timer(51000);
    EXPECT_FALSE(b.server.is_valid());

    // An error record in place of the key.
    Bench k(KeyReply::SM2, 4, {{Scenario::KEY_REFUSED, 0, 1, 0, 64}});
    k.client.send_key_exchange();
    ASSERT_TRUE(k.pump([&] { return k.client.find(0x6092) != nullptr; }));
    EXPECT_EQ(k.client.find(0x6092)->error_id, FrontDialogue::KEY_REFUSED);
    // The front, writing on once the client is gone, finds its send refused.
    k.client.channel.close(XeloClientChannel::CLOSE_PEER);
    k.server.send_heartbeat();
    k.server.write();
    EXPECT_FALSE(k.server.is_valid());
}

}  // namespace

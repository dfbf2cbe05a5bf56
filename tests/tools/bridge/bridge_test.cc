// xelmd-bridge as a process, against a real nats-server with JetStream and a
// real xelmd-front replaying awkward instrument ids: every update stored once
// with its subject, headers and payload across a stop and a restart, the
// binary layout read back by hand, and clear refusals.
#include <arpa/inet.h>
#include <nats/nats.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "api/TarnXeloMduserApi.h"
#include "tests/tools/process.h"

namespace {

using ToolTest::spawn;
using ToolTest::wait_exit;

int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), size);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    close(fd);
    return ntohs(a.sin_port);
}

struct Message {
    std::string subject, data;
    std::map<std::string, std::string> headers;
};

// A nats-server with JetStream in a scratch directory, and a reader of
// every message a stream holds.
struct NatsServer {
    std::string dir = ToolTest::temp_dir();
    int port = free_port();
    pid_t pid =
        spawn(XELMD_NATS_SERVER, {"-js", "-sd", dir, "-p", std::to_string(port), "-a", "127.0.0.1"},
              dir + "/server.log");
    natsConnection* nc = nullptr;
    jsCtx* js = nullptr;

    std::string url() const { return "nats://127.0.0.1:" + std::to_string(port); }
    bool connect() {
        for (int i = 0; i < 100 && natsConnection_ConnectTo(&nc, url().c_str()) != NATS_OK; ++i)
            usleep(100000);
        return nc != nullptr && natsConnection_JetStream(&js, nc, nullptr) == NATS_OK;
    }
    bool has_stream(const char* stream) {
        jsStreamInfo* info = nullptr;
        if (js_GetStreamInfo(&info, js, stream, nullptr, nullptr) != NATS_OK) return false;
        jsStreamInfo_Destroy(info);
        return true;
    }
    std::vector<Message> read(const char* stream) {
        std::vector<Message> out;
        jsStreamInfo* info = nullptr;
        if (js_GetStreamInfo(&info, js, stream, nullptr, nullptr) != NATS_OK) return out;
        uint64_t last = info->State.LastSeq;
        jsStreamInfo_Destroy(info);
        for (uint64_t seq = 1; seq <= last; ++seq) {
            natsMsg* msg = nullptr;
            if (js_GetMsg(&msg, js, stream, seq, nullptr, nullptr) != NATS_OK) continue;
            Message m;
            m.subject = natsMsg_GetSubject(msg);
            m.data.assign(natsMsg_GetData(msg), static_cast<size_t>(natsMsg_GetDataLength(msg)));
            const char** keys = nullptr;
            int count = 0;
            natsMsgHeader_Keys(msg, &keys, &count);
            for (int k = 0; k < count; ++k) {
                const char* value = nullptr;
                natsMsgHeader_Get(msg, keys[k], &value);
                m.headers[keys[k]] = value;
            }
            free(keys);
            natsMsg_Destroy(msg);
            out.push_back(m);
        }
        return out;
    }
    ~NatsServer() {
        if (js != nullptr) jsCtx_Destroy(js);
        if (nc != nullptr) natsConnection_Destroy(nc);
        kill(pid, SIGTERM);
        wait_exit(pid, 10000);
        ToolTest::remove_dir(dir);
    }
};

// Ids the front replays, and the subject tokens they must get.
const char* const ODD_CSV =
    "InstrumentID,LastPrice,Volume,BidPrice1,BidVolume1,AskPrice1,AskVolume1,UpdateTime\n"
    "IF2501.C,3500.5,12,3500,3,3501,4,09:30:00\n"
    "a b,10,1,9,1,11,1,09:30:01\n"
    "x*y>z,1,1,1,1,1,1,09:30:02\n"
    "%,2,1,1,1,1,1,09:30:03\n"
    "\xc3\xa9t\xc3\xa9,3,1,1,1,1,1,09:30:04\n";
const std::map<std::string, std::string> TOKENS = {{"IF2501.C", "IF2501%2EC"},
                                                   {"a b", "a%20b"},
                                                   {"x*y>z", "x%2Ay%3Ez"},
                                                   {"%", "%25"},
                                                   {"\xc3\xa9t\xc3\xa9", "%C3%A9t%C3%A9"}};

// The text of a JSON member, every value being a string without escapes here.
std::string member(const std::string& json, const std::string& name) {
    size_t at = json.find("\"" + name + "\":\"");
    if (at == std::string::npos) return "?";
    at += name.size() + 4;
    return json.substr(at, json.find('"', at) - at);
}

// Runs the bridge for ms once its stream is there (its signals are handled
// from then on), then SIGTERM; its exit status.
int run_bridge(NatsServer& nats, const char* stream, std::vector<std::string> args, int ms,
               const std::string& log) {
    pid_t pid = spawn(XELMD_BRIDGE_BIN, args, log);
    for (int i = 0; i < 300 && !nats.has_stream(stream); ++i) usleep(50000);
    usleep(static_cast<useconds_t>(ms) * 1000);
    kill(pid, SIGTERM);
    return wait_exit(pid, 70000);
}

// Data messages in stream order: their (packet, index) follow on one by one
// with no repeat, and the last commit marker names the last packet.
void expect_exactly_once(const std::vector<Message>& all, const std::string& prefix, bool binary) {
    long seq = -1;
    int index = -1, data = 0;
    std::string commit = "none", first;
    for (const Message& m : all) {
        if (m.subject == prefix + ".commit.100") {
            commit = m.headers.at("Xelmd-Seq");
            EXPECT_EQ(m.data, "{\"Topic\":\"100\",\"SequenceNo\":\"" + commit + "\",\"First\":\"" +
                                  first + "\"}");
            EXPECT_EQ(m.headers.at("Xelmd-First"), first);
            continue;
        }
        if (++data == 1) first = m.headers.at("Xelmd-Seq");
        long s = std::stol(m.headers.at("Xelmd-Seq"));
        int i = std::stoi(m.headers.at("Xelmd-Index"));
        ASSERT_TRUE((s == seq && i == index + 1) || (i == 0 && (seq < 0 || s == seq + 1)))
            << "packet " << s << " index " << i << " after " << seq << "/" << index;
        seq = s;
        index = i;
        EXPECT_EQ(m.headers.at("Xelmd-Topic"), "100");
        EXPECT_EQ(m.headers.at("Nats-Msg-Id"),
                  "100:" + std::to_string(s) + ":" + std::to_string(i));
        std::string id;
        if (binary) {
            // The published layout, read by hand.
            ASSERT_EQ(m.data.size(), 32 + sizeof(CTarnXeloDepthMarketDataField));
            EXPECT_EQ(m.data.substr(0, 4), std::string("XB\x01\x20", 4));
            uint32_t record = 0, index_le = 0;
            int32_t topic = 0;
            int64_t sequence = 0;
            memcpy(&record, &m.data[4], 4);
            memcpy(&topic, &m.data[8], 4);
            memcpy(&index_le, &m.data[12], 4);
            memcpy(&sequence, &m.data[16], 8);
            EXPECT_EQ(record, sizeof(CTarnXeloDepthMarketDataField));
            EXPECT_EQ(topic, 100);
            EXPECT_EQ(index_le, static_cast<uint32_t>(i));
            EXPECT_EQ(sequence, s);
            id = &m.data[32 + offsetof(CTarnXeloDepthMarketDataField, InstrumentID)];
        } else {
            EXPECT_EQ(member(m.data, "SequenceNo"), std::to_string(s));
            EXPECT_EQ(member(m.data, "Topic"), "100");
            id = member(m.data, "InstrumentID");
        }
        ASSERT_EQ(TOKENS.count(id), 1u) << id;
        EXPECT_EQ(m.subject, prefix + ".100." + TOKENS.at(id));
    }
    EXPECT_GT(data, 50);
    EXPECT_EQ(commit, std::to_string(seq));
}

struct BridgeFixture : ::testing::Test {
    NatsServer nats;
    ToolTest::FrontProcess front;
    std::string log = front.dir + "/bridge.log";

    void SetUp() override {
        ToolTest::write_file(front.dir + "/odd.csv", ODD_CSV);
        ASSERT_TRUE(front.start(XELMD_FRONT_BIN,
                                {"--rate", "200", "--replay", front.dir + "/odd.csv", "--quiet"}))
            << front.log();
        ASSERT_TRUE(nats.connect()) << ToolTest::read_file(nats.dir + "/server.log");
    }
    std::vector<std::string> args(std::vector<std::string> more) const {
        std::vector<std::string> a = {"--front", front.address(), "--nats", nats.url(), "--quiet"};
        a.insert(a.end(), more.begin(), more.end());
        return a;
    }
};

TEST_F(BridgeFixture, StoresEveryUpdateOnceAcrossAStopAndARestart) {
    ASSERT_EQ(run_bridge(nats, "XELMD", args({}), 1500, log), 0) << ToolTest::read_file(log);
    size_t first = nats.read("XELMD").size();
    ASSERT_EQ(run_bridge(nats, "XELMD", args({}), 1500, log), 0) << ToolTest::read_file(log);
    std::vector<Message> all = nats.read("XELMD");
    EXPECT_GT(all.size(), first);
    expect_exactly_once(all, "xelmd.md", false);
}

TEST_F(BridgeFixture, BinaryPayloadFollowsThePublishedLayout) {
    ASSERT_EQ(run_bridge(nats, "BIN",
                         args({"--format", "binary", "--stream", "BIN", "--prefix", "bin.md"}),
                         1500, log),
              0)
        << ToolTest::read_file(log);
    expect_exactly_once(nats.read("BIN"), "bin.md", true);
}

TEST_F(BridgeFixture, RefusesAStreamWithOtherSettings) {
    ASSERT_EQ(run_bridge(nats, "XELMD", args({}), 300, log), 0) << ToolTest::read_file(log);
    for (const char* other : {"--prefix", "--replicas"}) {
        unlink(log.c_str());
        pid_t pid = spawn(XELMD_BRIDGE_BIN,
                          args({other, std::string(other) == "--prefix" ? "elsewhere" : "3"}), log);
        EXPECT_EQ(wait_exit(pid, 20000), 1);
        EXPECT_NE(ToolTest::read_file(log).find("stream XELMD exists with other settings"),
                  std::string::npos)
            << ToolTest::read_file(log);
    }
}

TEST(BridgeCommand, RefusesBadArgumentsNamingTheOption) {
    const char* table = "tools/bridge/options.data";
    const std::vector<TestTable::Row> rows = TestTable::read(table);
    const std::string dir = ToolTest::temp_dir(), log = dir + "/log";
    ASSERT_EQ(rows.size() % 2, 0u);
    for (size_t i = 0; i < rows.size(); i += 2) {
        SCOPED_TRACE(TestTable::where(table, rows[i]));
        std::vector<std::string> args;
        std::istringstream in(TestTable::text(rows[i]));
        for (std::string arg; in >> arg;) args.push_back(arg);
        EXPECT_EQ(wait_exit(spawn(XELMD_BRIDGE_BIN, args, log), 20000), 2);
        EXPECT_EQ(ToolTest::read_file(log), TestTable::text(rows[i + 1]) + "\n");
        unlink(log.c_str());
    }
    ToolTest::remove_dir(dir);
}

TEST(BridgeCommand, ExitsFourWhenNatsIsUnreachable) {
    const std::string dir = ToolTest::temp_dir(), log = dir + "/log";
    std::string url = "nats://127.0.0.1:" + std::to_string(free_port());
    EXPECT_EQ(wait_exit(spawn(XELMD_BRIDGE_BIN, {"--nats", url, "--quiet"}, log), 30000), 4);
    EXPECT_NE(ToolTest::read_file(log).find("NATS not reachable at " + url), std::string::npos)
        << ToolTest::read_file(log);
    ToolTest::remove_dir(dir);
}

}  // namespace

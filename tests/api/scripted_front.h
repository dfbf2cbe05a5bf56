#ifndef XELMD_TESTS_API_SCRIPTED_FRONT_H
#define XELMD_TESTS_API_SCRIPTED_FRONT_H

// A front scripted by the test over plain sockets, for the replies a
// well-behaved front never gives and for the exact bytes the client sends:
// it frames by hand (units from wire.h) and never enciphers, so a mistake
// made the same way on both sides of the library's transport cannot hide.
// One thread (the test's).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/TarnXeloMduserApi.h"
#include "tests/api/recording_spi.h"
#include "tests/api/wire.h"

namespace ApiTest {

// A data packet as sent: tid, request id and its fields by id.
struct WirePacket {
    unsigned tid = 0, request_id = 0;
    std::vector<std::pair<unsigned, std::string>> fields;
    const std::string* find(unsigned id) const {
        for (const auto& f : fields)
            if (f.first == id) return &f.second;
        return nullptr;
    }
};

class ScriptedFront {
  public:
    ScriptedFront() {
        listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), len);
        listen(listen_fd_, 8);
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
        address_ = "tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
        set_timeout(listen_fd_, 5000);  // accept() waits at most that long
    }
    ~ScriptedFront() {
        drop();
        ::close(listen_fd_);
    }
    const std::string& address() const { return address_; }

    bool accept_client() {
        fd_ = ::accept(listen_fd_, nullptr, nullptr);
        buffer_.clear();
        return fd_ >= 0;
    }
    void drop() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // The next data packet within timeout_ms (control frames skipped); false
    // also when the client closed the connection.
    bool read_packet(WirePacket& out, int timeout_ms = 3000) {
        set_timeout(fd_, timeout_ms);
        char chunk[65536];
        for (ssize_t n; !take_packet(out); buffer_.append(chunk, static_cast<size_t>(n)))
            if ((n = ::recv(fd_, chunk, sizeof chunk, 0)) <= 0) return false;
        return true;
    }
    // True when the client closed the connection within 3 s.
    bool wait_closed() {
        char chunk[65536];
        ssize_t n;
        set_timeout(fd_, 3000);
        while ((n = ::recv(fd_, chunk, sizeof chunk, 0)) > 0) continue;
        return n == 0;
    }
    // A packet of the given field area, on series 1 unless told otherwise.
    void send_packet(unsigned tid, unsigned request_id, const std::string& fields,
                     unsigned series = 1, unsigned sequence = 0) {
        int count = 0;
        for (size_t at = 0; at + 4 <= fields.size(); ++count)
            at += 4 + (wire::load_be32(&fields[at]) & 0xFFFF);
        std::string u = wire::unit({tid, series, sequence, 'L', request_id}, fields, 0, count);
        ::send(fd_, u.data(), u.size(), MSG_NOSIGNAL);
    }

  private:
    static void set_timeout(int fd, int ms) {
        timeval t = {ms / 1000, ms % 1000 * 1000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    }
    // Transport header (type, ext, length of what follows it; a control
    // frame has only its ext bytes), ext bytes, compression header, packet
    // header, fields.
    bool take_packet(WirePacket& out) {
        while (buffer_.size() >= 4) {
            size_t ext = static_cast<unsigned char>(buffer_[1]);
            size_t content = wire::load_be32(buffer_.data()) & 0xFFFF;
            size_t size = 4 + (content == 0 ? ext : content);
            if (buffer_.size() < size) return false;
            std::string body = buffer_.substr(4 + ext, size - 4 - ext);
            buffer_.erase(0, size);
            if (content == 0) continue;
            EXPECT_GE(body.size(), 22u);
            out.tid = wire::load_be32(&body[6]);
            out.request_id = wire::load_be32(&body[18]);
            out.fields.clear();
            for (size_t at = 22; at + 4 <= body.size();) {
                unsigned head = wire::load_be32(&body[at]);
                out.fields.push_back({head >> 16, body.substr(at + 4, head & 0xFFFF)});
                at += 4 + (head & 0xFFFF);
            }
            return true;
        }
        return false;
    }

    int listen_fd_ = -1;
    int fd_ = -1;
    std::string address_;
    std::string buffer_;
};

inline CTarnXeloReqUserLoginField login_record() {
    CTarnXeloReqUserLoginField r = {};
    strcpy(r.TradingDay, "19990101");
    strcpy(r.UserID, "trader01");
    strcpy(r.ParticipantID, "p1");
    strcpy(r.Password, "secret");
    strcpy(r.UserProductInfo, "prod 1");
    strcpy(r.InterfaceProductInfo, "anything");
    strcpy(r.ProtocolInfo, "whatever");
    r.DataCenterID = 55;
    return r;
}

// A fresh flow directory, removed with what the tests leave in it.
class FlowDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/xelmd_loop_XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override {
        for (const char* f : {"/md.con", "/req.log", "/rsp.log", "/scenario.json"})
            unlink((dir_ + f).c_str());
        rmdir(dir_.c_str());
    }
    std::string dir_;
};

// The real API object against a ScriptedFront.
class LoopbackTest : public FlowDirTest {
  protected:
    void TearDown() override {
        if (api_) stop();
        FlowDirTest::TearDown();
    }
    // Create with the topics and logs, Init, accept and read the key exchange.
    void start(const std::vector<std::pair<int, TE_RESUME_TYPE>>& topics = {}, bool logs = false) {
        api_ = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
        api_->RegisterSpi(&spi_);
        ASSERT_EQ(api_->RegisterFront(front_.address().c_str()), 0);
        for (auto& t : topics) ASSERT_EQ(api_->SubscribeMarketDataTopic(t.first, t.second), 0);
        if (logs) {
            ASSERT_EQ(api_->OpenRequestLog((dir_ + "/req.log").c_str()), 0);
            ASSERT_EQ(api_->OpenResponseLog((dir_ + "/rsp.log").c_str()), 0);
        }
        ASSERT_EQ(api_->Init(), 0);
        accept_and_read_key_exchange();
    }
    void accept_and_read_key_exchange() {
        ASSERT_TRUE(front_.accept_client());
        ASSERT_TRUE(front_.read_packet(kx_));
        const std::string* t = kx_.find(0x8017);
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->size(), 301u);
    }
    void stop() {
        api_->Release();
        api_->Join();
        api_ = nullptr;
    }
    // The key-exchange reply; a null session text leaves the field out.
    void reply(int error, const char* session_text = "0") {
        std::string f =
            wire::rsp_info(error, error ? "refused" : "") + wire::field(0x800A, wire::be32(12345));
        if (session_text) f += wire::field(0x8017, wire::text(session_text, 301));
        front_.send_packet(0x6092, 0, f);
    }
    bool login_and_read(WirePacket& p, int request_id = 42) {
        CTarnXeloReqUserLoginField r = login_record();
        return api_->ReqUserLogin(&r, request_id) == 0 && front_.read_packet(p, 3000);
    }

    ScriptedFront front_;
    RecordingSpi spi_;
    CTarnXeloMduserApi* api_ = nullptr;
    WirePacket kx_;
};

}  // namespace ApiTest

#endif  // XELMD_TESTS_API_SCRIPTED_FRONT_H

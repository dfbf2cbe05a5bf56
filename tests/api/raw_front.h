#ifndef XELMD_TESTS_API_RAW_FRONT_H
#define XELMD_TESTS_API_RAW_FRONT_H

// A front written for the API tests with plain sockets: it frames and
// enciphers by hand (units from wire.h, the cipher from the network tests'
// independent helper), so that a mistake made the same way on both sides of
// the library's own transport cannot hide here. One thread (the test's).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "api/TarnXeloMduserApi.h"
#include "network/xelo_packet.h"
#include "tests/api/recording_spi.h"
#include "tests/api/wire.h"
#include "tests/network/channel_frames.h"

namespace ApiTest {

struct WireField {
    unsigned short id;
    std::string data;
};

struct WirePacket {
    Network::XeloPacket::Header header;
    std::vector<WireField> fields;
    const WireField* find(unsigned short id) const {
        for (const WireField& f : fields)
            if (f.id == id) return &f;
        return nullptr;
    }
};

class RawFront {
  public:
    RawFront() {
        listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listen_fd_, 8);
        socklen_t len = sizeof a;
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~RawFront() {
        drop();
        ::close(listen_fd_);
    }
    std::string address() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

    bool accept_client(int timeout_ms) {
        pollfd p = {listen_fd_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) != 1) return false;
        fd_ = ::accept(listen_fd_, nullptr, nullptr);
        buffer_.clear();
        peer_closed_ = false;
        cipher_ = 0;
        return fd_ >= 0;
    }
    void drop() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Both directions from the next unit on.
    void set_cipher(int type, unsigned long key) {
        cipher_ = type;
        key_ = key;
    }

    // The next data packet within timeout_ms; control frames are skipped.
    bool read_packet(WirePacket& out, int timeout_ms) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!take_packet(out))
            if (!receive(deadline)) return false;
        return true;
    }
    // True when the client closed the connection within timeout_ms (data
    // still arriving is discarded).
    bool wait_closed(int timeout_ms) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (receive(deadline)) buffer_.clear();
        return peer_closed_;
    }

    // A packet of the given field area, on series 1 unless told otherwise.
    void send_packet(unsigned tid, unsigned request_id, const std::string& fields,
                     unsigned series = 1, unsigned sequence = 0) {
        int count = 0;
        for (size_t at = 0; at + 4 <= fields.size(); ++count)
            at += 4 + (wire::load_be32(&fields[at]) & 0xFFFF);
        std::string u = wire::unit({tid, series, sequence, 'L', request_id}, fields, 0, count);
        u = u.substr(0, 4) + ChannelFrames::encipher_content(cipher_, key_, u.substr(4));
        ::send(fd_, u.data(), u.size(), MSG_NOSIGNAL);
    }

    int bad_frames_ = 0;

  private:
    bool receive(std::chrono::steady_clock::time_point deadline) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        pollfd p = {fd_, POLLIN, 0};
        if (fd_ < 0 || peer_closed_ || left <= 0 || poll(&p, 1, left) != 1) return false;
        char chunk[65536];
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        peer_closed_ = n <= 0;
        if (n > 0) buffer_.append(chunk, static_cast<size_t>(n));
        return n > 0;
    }

    bool take_packet(WirePacket& out) {
        while (buffer_.size() >= 4) {
            size_t ext = static_cast<unsigned char>(buffer_[1]);
            size_t content = wire::load_be32(buffer_.data()) & 0xFFFF;
            size_t size = 4 + (content == 0 ? ext : content);  // a control frame has no content
            if (buffer_.size() < size) return false;
            std::string payload =
                ChannelFrames::encipher_content(cipher_, key_, buffer_.substr(4, content));
            buffer_.erase(0, size);
            if (content == 0) continue;
            if (payload.size() < 22 || payload[0] != 1 || payload[1] != 0 ||
                !Network::XeloPacket::from_stream(&out.header, &payload[2],
                                                  static_cast<int>(payload.size() - 2))) {
                bad_frames_++;
                continue;
            }
            out.fields.clear();
            Network::XeloPacket::Iterator it(&out.header, &payload[22]);
            for (int id; (id = it.next()) >= 0;) {
                unsigned short n = 0;
                const char* data = static_cast<const char*>(it.get_field(n));
                out.fields.push_back({static_cast<unsigned short>(id), std::string(data, n)});
            }
            return true;
        }
        return false;
    }

    int listen_fd_ = -1;
    int fd_ = -1;
    int port_ = 0;
    bool peer_closed_ = false;
    int cipher_ = 0;
    unsigned long key_ = 0;
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

// The real API object in a fresh flow directory against a RawFront.
class LoopbackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/xelmd_loop_XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override {
        if (api_) stop();
        for (const char* f : {"/md.con", "/req.log", "/rsp.log"}) unlink((dir_ + f).c_str());
        rmdir(dir_.c_str());
    }
    void create(CTarnXeloMduserSpi* spi) {
        api_ = CTarnXeloMduserApi::CreateXeloMduserApi(dir_.c_str());
        api_->RegisterSpi(spi);
        ASSERT_EQ(api_->RegisterFront(front_.address().c_str()), 0);
    }
    // Create with the topics and logs, Init, accept and read the key exchange.
    void start(const std::vector<std::pair<int, TE_RESUME_TYPE>>& topics = {}, bool logs = false) {
        create(&spi_);
        for (auto& t : topics) ASSERT_EQ(api_->SubscribeMarketDataTopic(t.first, t.second), 0);
        if (logs) {
            ASSERT_EQ(api_->OpenRequestLog((dir_ + "/req.log").c_str()), 0);
            ASSERT_EQ(api_->OpenResponseLog((dir_ + "/rsp.log").c_str()), 0);
        }
        ASSERT_EQ(api_->Init(), 0);
        accept_and_read_key_exchange();
    }
    void accept_and_read_key_exchange() {
        ASSERT_TRUE(front_.accept_client(5000));
        ASSERT_TRUE(front_.read_packet(kx_, 5000));
        const WireField* t = kx_.find(0x8017);
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->data.size(), 301u);
        kx_text_ = t->data;
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
    // From connection to a logged-in user (request 1, trading day empty).
    void connect_and_login(WirePacket& login, int connection) {
        ASSERT_TRUE(spi_.wait_for("connected", connection));
        reply(0);
        ASSERT_TRUE(login_and_read(login, 1));
        ASSERT_EQ(login.header.tid, 0x1001u);
        front_.send_packet(0x1002, 1, wire::rsp_info(0, "") + wire::login_rsp("", "trader01", 0));
        ASSERT_TRUE(spi_.wait_for("login 0: 1 L trader01 ", connection));
    }

    RawFront front_;
    RecordingSpi spi_;
    CTarnXeloMduserApi* api_ = nullptr;
    std::string dir_;
    WirePacket kx_;
    std::string kx_text_;
};

}  // namespace ApiTest

#endif  // XELMD_TESTS_API_RAW_FRONT_H

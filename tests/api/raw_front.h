#ifndef XELMD_TESTS_API_RAW_FRONT_H
#define XELMD_TESTS_API_RAW_FRONT_H

// A front written for the API tests with plain sockets: it frames, enciphers
// (type 1) and parses by hand, independently of the library's channels and
// sessions, so that a mistake made the same way on both sides of the
// library's own transport cannot hide here. One thread (the test's).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "network/xelo_packet.h"

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

inline unsigned int load_be32(const char* p) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    return unsigned(u[0]) << 24 | unsigned(u[1]) << 16 | unsigned(u[2]) << 8 | u[3];
}

// Payload cipher type 1: each little-endian 8-byte word XOR (key + index),
// the tail bytes XOR the key's bytes.
inline void xor_cipher(char* p, size_t n, unsigned long key) {
    size_t words = n / 8;
    for (size_t i = 0; i < words; ++i) {
        unsigned long w = 0;
        for (int b = 7; b >= 0; --b) w = w << 8 | static_cast<unsigned char>(p[8 * i + b]);
        w ^= key + i;
        for (int b = 0; b < 8; ++b) p[8 * i + b] = static_cast<char>(w >> (8 * b));
    }
    for (size_t j = 0; j < n % 8; ++j) p[8 * words + j] ^= static_cast<char>(key >> (8 * j));
}

class RawFront {
  public:
    RawFront() {
        listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;
        setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
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
        if (listen_fd_ >= 0) ::close(listen_fd_);
    }
    RawFront(const RawFront&) = delete;
    RawFront& operator=(const RawFront&) = delete;

    int port() const { return port_; }
    std::string address() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

    bool accept_client(int timeout_ms) {
        pollfd p = {listen_fd_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) != 1) return false;
        fd_ = ::accept(listen_fd_, nullptr, nullptr);
        buffer_.clear();
        peer_closed_ = false;
        rx_key_ = tx_key_ = 0;
        rx_cipher_ = tx_cipher_ = false;
        return fd_ >= 0;
    }
    void drop() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool is_closed() const { return fd_ < 0 || peer_closed_; }

    void set_rx_key(unsigned long key) {
        rx_key_ = key;
        rx_cipher_ = true;
    }
    void set_tx_key(unsigned long key) {
        tx_key_ = key;
        tx_cipher_ = true;
    }

    // The next data packet within timeout_ms; control frames are skipped.
    bool read_packet(WirePacket& out, int timeout_ms) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            if (take_packet(out)) return true;
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            if (left <= 0 || !receive(left)) return false;
        }
    }
    // True when the client closed the connection within timeout_ms (data
    // still arriving is discarded).
    bool wait_closed(int timeout_ms) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!peer_closed_) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            if (left <= 0) return false;
            receive(left);
            buffer_.clear();
        }
        return true;
    }

    // A packet of the given fields (each already in wire form) on series 1.
    void send_packet(unsigned int tid, unsigned int request_id,
                     const std::vector<WireField>& fields, unsigned short series = 1,
                     unsigned int sequence = 0) {
        std::string frame(6, '\0');
        std::string body;
        for (const WireField& f : fields) {
            body += static_cast<char>(f.id >> 8);
            body += static_cast<char>(f.id);
            body += static_cast<char>(f.data.size() >> 8);
            body += static_cast<char>(f.data.size());
            body += f.data;
        }
        char h[20] = {};
        h[0] = 4;
        h[1] = 'L';
        h[2] = static_cast<char>(series >> 8);
        h[3] = static_cast<char>(series);
        put_be32(h + 4, tid);
        put_be32(h + 8, sequence);
        h[13] = static_cast<char>(fields.size());
        h[14] = static_cast<char>(body.size() >> 8);
        h[15] = static_cast<char>(body.size());
        put_be32(h + 16, request_id);
        frame += std::string(h, 20) + body;
        size_t content = frame.size() - 4;
        frame[0] = 2;
        frame[1] = 0;
        frame[2] = static_cast<char>(content >> 8);
        frame[3] = static_cast<char>(content);
        frame[4] = 1;  // compression header: version 1, no compression
        frame[5] = 0;
        if (tx_cipher_) xor_cipher(&frame[4], content, tx_key_);
        ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL);
    }

  private:
    static void put_be32(char* p, unsigned int v) {
        for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (24 - 8 * i));
    }

    bool receive(int timeout_ms) {
        if (fd_ < 0 || peer_closed_) return false;
        pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) != 1) return false;
        char chunk[65536];
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            peer_closed_ = true;
            return false;
        }
        buffer_.append(chunk, static_cast<size_t>(n));
        return true;
    }

    bool take_packet(WirePacket& out) {
        while (buffer_.size() >= 4) {
            unsigned ext = static_cast<unsigned char>(buffer_[1]);
            unsigned content = static_cast<unsigned char>(buffer_[2]) << 8 |
                               static_cast<unsigned char>(buffer_[3]);
            if (content == 0) {  // control frame (heartbeat, interval)
                if (buffer_.size() < 4 + ext) return false;
                buffer_.erase(0, 4 + ext);
                continue;
            }
            if (buffer_.size() < 4 + content) return false;
            std::string payload = buffer_.substr(4, content);
            buffer_.erase(0, 4 + content);
            if (rx_cipher_) xor_cipher(&payload[0], payload.size(), rx_key_);
            if (payload.size() < 22 || payload[0] != 1 || payload[1] != 0) {
                bad_frames_++;
                continue;
            }
            const char* packet = payload.data() + 2;
            int length = static_cast<int>(payload.size() - 2);
            if (!Network::XeloPacket::from_stream(&out.header, packet, length)) {
                bad_frames_++;
                continue;
            }
            out.fields.clear();
            const char* p = packet + 20;
            const char* end = p + out.header.content_length;
            while (end - p >= 4) {
                unsigned short id = static_cast<unsigned short>(
                    static_cast<unsigned char>(p[0]) << 8 | static_cast<unsigned char>(p[1]));
                unsigned short size = static_cast<unsigned short>(
                    static_cast<unsigned char>(p[2]) << 8 | static_cast<unsigned char>(p[3]));
                if (end - p - 4 < size) break;
                out.fields.push_back({id, std::string(p + 4, size)});
                p += 4 + size;
            }
            return true;
        }
        return false;
    }

  public:
    int bad_frames_ = 0;

  private:
    int listen_fd_ = -1;
    int fd_ = -1;
    int port_ = 0;
    bool peer_closed_ = false;
    bool rx_cipher_ = false;
    bool tx_cipher_ = false;
    unsigned long rx_key_ = 0;
    unsigned long tx_key_ = 0;
    std::string buffer_;
};

}  // namespace ApiTest

#endif  // XELMD_TESTS_API_RAW_FRONT_H

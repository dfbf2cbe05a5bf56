#ifndef XELMD_NETWORK_CHANNEL_H
#define XELMD_NETWORK_CHANNEL_H

#include "parallel/fd.h"

namespace Base {
class DataFlow;
class TcpSocket;
}  // namespace Base
namespace Cipher {
class Des;
class Aes;
class Sm4;
}  // namespace Cipher
namespace Parallel {
class FdReactor;
class Reporter;
}  // namespace Parallel

namespace Network {

// Base of every connection endpoint: an Fd of one FdReactor that owns the
// connection's payload cipher and writes a binary traffic log into a flow.
// Reactor thread only (set_cipher reaches it through the owning session).
class Channel : public Parallel::Fd {
  public:
    // Payload protection chosen by set_cipher; 5 and above change nothing.
    enum CipherType : unsigned char {
        CIPHER_NONE = 0,
        CIPHER_XOR = 1,
        CIPHER_DES = 2,
        CIPHER_AES = 3,
        CIPHER_SM4 = 4,
    };

    // Kinds of traffic-log records.
    enum LogKind : unsigned short {
        LOG_CONNECTED = 0,         // data: peer address text with its zero byte
        LOG_RECEIVED = 1,          // data: bytes as received, still enciphered
        LOG_SENT = 2,              // data: bytes as handed to the socket
        LOG_RECEIVE_FAILED = 3,    // no data
        LOG_SEND_FAILED = 4,       // no data
        LOG_CLOSED = 5,            // no data
        LOG_PEER_CLOSED_RECV = 6,  // receive returned 0; no data
        LOG_PEER_CLOSED_SEND = 7,  // send returned 0; no data
        LOG_CIPHER_SET = 8,        // data: cipher type byte, 8 key bytes in host order
    };

    // Record layout, integers big-endian: number, seconds, kind, length,
    // microseconds, then the data.
    static const int LOG_HEADER_SIZE = 16;
    // The largest data one record carries; longer data is split.
    static const int LOG_MAX_DATA = 65535 - LOG_HEADER_SIZE;

    static const int KEY_BLOCK_SIZE = 16;
    static const int COUNTER_IV_SIZE = 16;
    // The counter-mode starting block of every connection, both directions,
    // both ends (DES takes the first 8 bytes). Its first byte is neither 0x00
    // nor 0xff, so the counter cannot wrap within a frame. Other fronts must
    // use the same value: changing it breaks every peer.
    static constexpr unsigned char COUNTER_IV[COUNTER_IV_SIZE] = {
        0xa1, 0xbc, 0xce, 0xc2, 0x2e, 0x65, 0xcd, 0x1c,
        0x41, 0xe7, 0x39, 0xeb, 0xb1, 0x70, 0xef, 0xa1,
    };

    // No log, cipher none; the reporter may be null.
    Channel(Parallel::FdReactor* reactor, Parallel::Reporter* reporter);
    ~Channel() override;

    // read, write and get_id(int&, int&) keep their Parallel::Fd slots.
    // The channel's number (a client channel's socket descriptor), 0 for none.
    int get_id() const override = 0;
    virtual Base::TcpSocket* get_socket() = 0;
    virtual bool listen(const char* host, int port) = 0;
    virtual bool connect(const char* host, int port, int timeout) = 0;
    // Returns reason.
    virtual int close(int reason) = 0;

    // The flow is not owned; null stops logging.
    void set_log(Base::DataFlow* flow) { log_ = flow; }
    Base::DataFlow* get_log() const { return log_; }
    // Appends one record (several when the data exceed LOG_MAX_DATA) and
    // commits it with notification. Nothing without a log or a number.
    void write_log(unsigned short kind, unsigned short length = 0, const void* data = nullptr);

    // Stores the key block (even for types 5 and above); for types 0-4 makes
    // the type current, builds the block cipher for 2-4 and logs kind 8.
    void set_cipher(unsigned char type, unsigned long key);
    unsigned char get_cipher_type() const { return cipher_type_; }
    const unsigned char* get_key_block() const { return key_block_; }

    // Transform length bytes with the current cipher, the counter restarted
    // from COUNTER_IV on every call; out may equal in. Non-zero on success;
    // 0 for cipher none, a missing cipher object or a negative length.
    int encode(unsigned char* out, const unsigned char* in, int length);
    int decode(unsigned char* out, const unsigned char* in, int length);

    Parallel::FdReactor* get_reactor() const { return reactor_; }
    Parallel::Reporter* get_reporter() const { return reporter_; }

  private:
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    int transform(unsigned char* out, const unsigned char* in, int length, bool decoding);
    void write_record(unsigned short kind, unsigned short length, const unsigned char* data);

    Parallel::FdReactor* reactor_;
    Parallel::Reporter* reporter_;
    Base::DataFlow* log_;
    unsigned char cipher_type_;
    // The 64-bit key's 8 bytes in host order, twice.
    unsigned char key_block_[KEY_BLOCK_SIZE];
    Cipher::Des* des_;
    Cipher::Aes* aes_;
    Cipher::Sm4* sm4_;
};

}  // namespace Network

#endif  // XELMD_NETWORK_CHANNEL_H

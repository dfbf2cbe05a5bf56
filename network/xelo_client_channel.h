#ifndef XELMD_NETWORK_XELO_CLIENT_CHANNEL_H
#define XELMD_NETWORK_XELO_CLIENT_CHANNEL_H

#include "base/list.h"
#include "base/map.h"
#include "base/socket.h"
#include "network/flow_channel.h"

namespace Parallel {
class FdNotify;
}

namespace Network {

class ClientSession;
class XeloFlow;

// One TCP connection carrying protocol flows both ways: published flows are
// batched, optionally compressed and enciphered, and sent without blocking;
// received frames are cut from the byte stream, checked, deciphered,
// expanded and appended to the flow subscribed for their subject. Reactor
// thread only (flows written elsewhere wake it through the write notifier).
class XeloClientChannel : public FlowChannel {
  public:
    // Close reasons, passed on to the session's on_disconnected.
    enum {
        CLOSE_PEER = -11,
        CLOSE_PROTOCOL = -12,
        CLOSE_SEND = -13,
        CLOSE_BLOCKING = -15,
        CLOSE_SUBJECT = -16,
        CLOSE_SEQUENCE = -17,
        CLOSE_LENGTH = -19,
        CLOSE_FILTER = -22,
        CLOSE_ENCRYPT = -23,
        CLOSE_DECRYPT = -24,
    };
    // Results of write(): progress, would block, nothing to send.
    enum { WRITE_PROGRESS = 0, WRITE_BLOCKED = -1, WRITE_IDLE = -2 };

    static constexpr unsigned short HEARTBEAT_SUBJECT = 65535;
    // The batch limit 4026 x F must stay a 16-bit count.
    static constexpr int MAX_FACTOR = 16;
    static constexpr int MIN_FRAME = 6;
    static constexpr int MAX_FRAME = 8194;
    static constexpr int BUCKETS = 53;
    static constexpr int ROUNDS = 8;

    // factor sizes the buffers; it is clamped to 1..MAX_FACTOR. The reactor
    // may be null: the owner then calls read() and write() itself and the
    // channel joins no reactor. The session may be null.
    XeloClientChannel(Parallel::FdReactor* reactor, ClientSession* session,
                      Parallel::Reporter* reporter, int factor);
    ~XeloClientChannel() override;

    int read() override;
    int write() override;
    void get_id(int& read_fd, int& write_fd) const override;
    int get_id() const override { return socket_.get_fd(); }
    Base::TcpSocket* get_socket() override { return &socket_; }
    bool listen(const char* host, int port) override;
    bool connect(const char* host, int port, int timeout) override;
    int close(int reason) override;
    void publish(Base::DataFlow* flow, Base::DataFlow::AckCallback* ack,
                 Base::DataFlow::ReadCallback* callback, Base::DataReader* reader,
                 Parallel::FlowRecycler* recycler, unsigned int* counter) override;
    void subscribe(Base::DataFlow* flow, Filter filter, unsigned long limit,
                   bool no_sequence_check) override;

    // Adopts an already connected descriptor, as a successful connect.
    bool create(int fd);
    bool is_valid() const { return socket_.get_fd() != 0; }
    void cancel_publish(Base::DataFlow* flow);
    void cancel_subscribe(Base::DataFlow* flow);
    PubItem* get_pub_item(unsigned short subject) const;
    SubItem* get_sub_item(unsigned short subject) const;

    // Writes one reader's flow in batches (at most 8). counter, when given,
    // is raised while the reader catches up from its flow file.
    int write(Base::DataReader* reader, unsigned int* counter);
    // Sends bytes; what the socket does not take stays pending.
    int write(const char* data, int length);

    bool available();
    void set_read_blocking(bool blocking);
    void enable_compress() { compress_ = true; }
    void send_heartbeat();
    void set_heartbeat_timeout(unsigned int seconds);
    unsigned int get_heartbeat_timeout() const { return heartbeat_timeout_; }
    // Reactor ticks since the last receive.
    unsigned long get_idle_timeout() const;
    int check_sub_buffer() { return FlowChannel::check_sub_buffer(&sub_list_); }
    using FlowChannel::check_sub_buffer;

    ClientSession* get_session() const { return session_; }
    Parallel::FdNotify* get_notify() const { return notify_; }
    Base::DataFlow* get_heartbeat_flow() const;
    int get_factor() const { return factor_; }
    int get_pending() const { return pending_; }
    void set_last_receive(unsigned long now) { last_receive_ = now; }

    // Timing and arithmetic rules, taking their inputs explicitly.
    // Timeout set by a peer's interval t: 3 x min(t, 60) + 1, or 4 for 0.
    static unsigned int timeout_from_interval(unsigned int interval);
    // Interval announced for timeout T: (T - 1) / 3.
    static unsigned int interval_from_timeout(unsigned int timeout);
    // A heartbeat is due once (T - 1) / 3 whole seconds have passed.
    static bool heartbeat_due(unsigned long now, unsigned long last_sent, unsigned int timeout);
    static int clamp_factor(int factor);

  private:
    // What one pass over the buffered bytes found.
    struct ReadState {
        unsigned long now;
        bool received;
        bool stored;
        SubItem* touched;
    };

    bool open_connected();
    void log_bytes(unsigned short kind, const char* data, int length);
    void reset_buffers();
    void clear_tables();
    unsigned long clock() const;
    int parse(ReadState& state);
    int parse_data(ReadState& state, char* frame, int size);
    void parse_control(const char* frame, int size);
    int route(ReadState& state, char* frame, unsigned short length);
    void finish_read(ReadState& state);
    int close_read(ReadState& state, int reason);
    int fetch(Base::DataReader* reader, const char*& batch, unsigned short& length);
    int compress_batch(const char* batch, int length, char* out, int& staged);
    int encrypt_batch(const char* batch, int length);
    void append_heartbeat_frame(const unsigned char* frame, unsigned short length);

    ClientSession* session_;
    int factor_;
    Base::TcpSocket socket_;

    Base::Map pub_map_;
    Base::List pub_list_;
    Base::Map sub_map_;
    Base::List sub_list_;
    // The item last found: the packets of a read mostly carry one subject.
    // Items live until clear_tables, which forgets it.
    mutable unsigned short last_subject_ = 0;
    mutable SubItem* last_sub_item_ = nullptr;

    char* recv_buffer_;
    int recv_size_;
    int read_pos_;
    int buffered_;
    int free_;
    char* expand_buffer_;
    char* decrypt_buffer_;
    char* send_buffer_;
    int pending_;
    char* batch_buffer_;
    unsigned short batch_limit_;

    bool compress_;
    unsigned int heartbeat_timeout_;
    unsigned long last_heartbeat_;
    unsigned long last_send_;
    unsigned long last_receive_;
    XeloFlow* heartbeat_flow_;
    Parallel::FdNotify* notify_;
    // Set while read() walks the tables; a close meanwhile is deferred.
    bool reading_ = false;
    bool close_deferred_ = false;
    int deferred_reason_ = 0;
};

}  // namespace Network

#endif  // XELMD_NETWORK_XELO_CLIENT_CHANNEL_H

#ifndef XELMD_NETWORK_XELO_CLIENT_SESSION_H
#define XELMD_NETWORK_XELO_CLIENT_SESSION_H

#include "base/data_flow.h"
#include "network/client_session.h"
#include "network/flow_channel.h"
#include "parallel/handler.h"

namespace Base {
class DataReader;
class Notify;
class Reportable;
}  // namespace Base

namespace Parallel {
class FlowRecycler;
struct Timer;
}  // namespace Parallel

namespace Network {

// Keeps one client channel to one address alive: connect attempts, retry
// after a drop, heartbeats, the idle check and the buffer-blocking check.
// Timers and events run on the reactor thread; the owner calls open, close,
// publish and subscribe on that thread (or before the channel is in use).
class XeloClientSession : public ClientSession, public Parallel::Handler {
  public:
    enum {
        TIMER_HEARTBEAT = 11,  // heartbeat and idle check, while connected
        TIMER_CONNECT = 12,    // one connect attempt
        TIMER_BUFFER = 14,     // buffer-blocking check, once subscribed with a limit
    };
    enum {
        EVENT_CLIENT_END = 1012,      // to the top session: an accepted connection ended
        EVENT_CONNECT_FAILED = 1014,  // to this session: the address is given up
    };
    // A connection silent for the idle limit is closed with this reason.
    static const int CLOSE_IDLE = -14;
    // Timer intervals in microseconds.
    static const int HEARTBEAT_INTERVAL = 1000000;
    static const int CONNECT_INTERVAL = 1500000;
    static const int BUFFER_INTERVAL = 1000000;
    static const unsigned long TICKS_PER_SECOND = 10000000UL;
    // The idle limit starts at 120 s; set_timeout keeps it within 4..184 s.
    static const unsigned int DEFAULT_TIMEOUT = 120;
    static const unsigned int MIN_TIMEOUT = 4;
    static const unsigned int MAX_TIMEOUT = 184;
    // Heartbeat timeouts within 4..181 s, the range the interval can carry.
    static const unsigned int DEFAULT_HEARTBEAT_TIMEOUT = 60;
    static const unsigned int MIN_HEARTBEAT_TIMEOUT = 4;
    static const unsigned int MAX_HEARTBEAT_TIMEOUT = 181;
    static const int HOST_SIZE = 64;

    typedef Base::DataReader* (*ReaderFactory)(Base::DataFlow* flow, Base::Notify* notify,
                                               Base::DataFlow::ReadCallback* callback,
                                               Parallel::FlowRecycler* recycler,
                                               Base::Reportable* log);
    typedef FlowChannel::Filter Filter;

    // log: the channel's traffic log flow, may be null.
    XeloClientSession(Parallel::FdReactor* reactor, ClientSession* parent,
                      Parallel::Reporter* reporter, Base::DataFlow* log, int factor);
    // Call on the reactor thread or while it runs: timers are removed and
    // the channel closed synchronously.
    ~XeloClientSession() override;

    // Connects to host:port at once the first time, one interval later
    // after that. Always true.
    bool open(const char* host, int port);
    // Takes over an accepted connection; false when the channel refuses it.
    bool open(int fd);
    int close(int reason);

    // factory null: a protocol reader (the flow must be a XeloFlow).
    void publish(Base::DataFlow* flow, unsigned long start, Parallel::FlowRecycler* recycler,
                 ReaderFactory factory, unsigned int* counter);
    void subscribe(Base::DataFlow* flow, Filter filter, unsigned long limit,
                   bool no_sequence_check);
    void cancel_publish(Base::DataFlow* flow);
    void cancel_subscribe(Base::DataFlow* flow);
    void enable_compress();
    void set_read_blocking(bool blocking);
    bool is_read_blocking() const;
    unsigned long get_idle_timeout() const;
    // Writes while the channel is open and has something to send; the first
    // non-zero result of write() (or 0).
    int flush();

    void set_timeout(unsigned int seconds);
    // Applied here and announced to the peer.
    void set_heartbeat_timeout(unsigned int seconds);

    // The decisions of the timers and of a disconnection, as functions of
    // the clock (reactor ticks) so that they can be checked at chosen times.
    // Idle: nothing received for at least limit ticks up to now; a last
    // receive stamped after now is no silence at all.
    static bool is_idle(unsigned long now, unsigned long last_receive, unsigned long limit) {
        return now > last_receive && now - last_receive >= limit;
    }
    // After a drop for reason: retry the same address (true), or give it up.
    static bool should_reconnect(int reason, unsigned long now, unsigned long last_receive,
                                 unsigned long limit) {
        return reason != CLOSE_IDLE && !is_idle(now, last_receive, limit);
    }
    // The same rules on the channel's idle time and this session's limit.
    bool is_idle() const;
    static unsigned int clamp_timeout(unsigned int seconds);
    static unsigned int clamp_heartbeat_timeout(unsigned int seconds);

    void on_connected() override;
    void on_disconnected(int reason) override;
    void on_connect_failed(ClientSession* session) override;
    XeloClientChannel* get_channel() override { return channel_; }

    int on_event(int id, void* arg) override;
    bool on_timer(int id) override;

    const char* get_host() const { return host_; }
    int get_port() const { return port_; }
    unsigned long get_idle_limit() const { return idle_limit_; }
    unsigned int get_applied_heartbeat_timeout() const { return applied_heartbeat_; }

  private:
    // Timer 11: false stops it.
    bool check_heartbeat();
    // Adopts a timeout the peer announced (the channel's differs from ours).
    void adopt_peer_timeout();
    bool on_connect_timer();
    void post(int id, void* arg, Parallel::Handler* handler);
    // The channel's clock: the reactor's loop time once it runs.
    unsigned long now() const;

    XeloClientChannel* channel_;
    char host_[HOST_SIZE];
    int port_;
    unsigned long idle_limit_;  // ticks
    unsigned int applied_heartbeat_;
    Parallel::Timer* heartbeat_timer_;
    Parallel::Timer* connect_timer_;
    Parallel::Timer* buffer_timer_;
};

}  // namespace Network

#endif  // XELMD_NETWORK_XELO_CLIENT_SESSION_H

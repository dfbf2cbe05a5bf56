#ifndef XELMD_NETWORK_XELO_BOND_CLIENT_SESSION_H
#define XELMD_NETWORK_XELO_BOND_CLIENT_SESSION_H

#include "base/uri.h"
#include "network/client_session.h"
#include "network/xelo_client_session.h"
#include "parallel/handler.h"

namespace Network {

// One working connection over several equivalent fronts: connects them in
// turn, fails over when one is given up, and learns fronts from name
// servers (fens). Reactor thread; the owner registers fronts and name
// servers before the reactor runs the session or from that thread.
class XeloBondClientSession : public ClientSession, public Parallel::Handler {
  public:
    static const int MAX_FRONTS = 256;
    static const int MAX_FENS = 256;
    static const int HOST_SIZE = 32;
    static const int TIMER_FENS = 13;
    static const int FENS_INTERVAL = 1000000;  // microseconds
    static const int EVENT_FENS_FAILED = 1015;
    // Posted by the destructor: close every child, fail over no more.
    static const int EVENT_CLOSING = 1016;
    // A name server's answer: at most this many bytes, each piece awaited
    // at most FENS_WAIT_MS, the whole query (connect included) at most
    // FENS_ANSWER_MS, since it holds the reactor thread meanwhile.
    static const int ANSWER_SIZE = 8192;
    static const int FENS_WAIT_MS = 500;
    static const int FENS_ANSWER_MS = 2000;

    struct Address {
        char host[HOST_SIZE];
        int port;
    };

    XeloBondClientSession(Parallel::FdReactor* reactor, ClientSession* parent,
                          Parallel::Reporter* reporter, int factor);
    // Call on the reactor thread or while it runs.
    ~XeloBondClientSession() override;

    // Registers a front; the first one known connects at once. False when
    // all 256 places are taken.
    bool open(const char* host, int port);
    // Registers a name server; the first one is asked at once. False when
    // all 256 places are taken or the port is not positive.
    bool register_fens(const char* host, int port);
    void close(int reason);

    void publish(Base::DataFlow* flow, unsigned long start, Parallel::FlowRecycler* recycler,
                 XeloClientSession::ReaderFactory factory);
    void subscribe(Base::DataFlow* flow, XeloClientSession::Filter filter, unsigned long limit,
                   bool no_sequence_check);
    void cancel_publish(Base::DataFlow* flow);
    void cancel_subscribe(Base::DataFlow* flow);

    // The current front's channel, or null while no front is known.
    XeloClientChannel* get_channel() override;
    XeloClientSession* get_current() const;
    int get_current_index() const { return current_; }
    int get_fens_index() const { return fens_current_; }
    int get_front_count() const;
    const Address& get_front(int index) const { return fronts_[index]; }
    // The session of front index, null past the last.
    XeloClientSession* get_child(int index) const { return children_[index]; }

    void on_connect_failed(ClientSession* session) override;
    int on_event(int id, void* arg) override;
    bool on_timer(int id) override;

    // Registers every line of a name server's answer (CR taken as LF) that
    // parses to a positive port; the number registered. text is changed.
    int register_answer(char* text);

  private:
    // Timer 13: asks the current name server; false stops the timer.
    bool query_fens();
    // Reads one answer from host:port into answer_; the bytes read.
    int read_answer(const char* host, int port);
    void open_current();
    void forget_fronts();
    void next_fens();
    void report(int level, const char* format, const char* host, int port);

    int factor_;
    Address fronts_[MAX_FRONTS];
    XeloClientSession* children_[MAX_FRONTS];
    int current_;
    Address fens_[MAX_FENS];
    int fens_current_;
    Parallel::Timer* fens_timer_;
    Base::Uri uri_;
    char answer_[ANSWER_SIZE];
    // Children of forgotten fronts, destroyed one failover later: the call
    // that forgets them may come from one of them.
    XeloClientSession* retired_[MAX_FRONTS];
    int retired_count_;
    bool closing_;
};

}  // namespace Network

#endif  // XELMD_NETWORK_XELO_BOND_CLIENT_SESSION_H

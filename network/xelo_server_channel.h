#ifndef XELMD_NETWORK_XELO_SERVER_CHANNEL_H
#define XELMD_NETWORK_XELO_SERVER_CHANNEL_H

#include "base/list.h"
#include "base/socket.h"
#include "network/flow_channel.h"

namespace Network {

class ServerSession;
class XeloClientChannel;

// A listening socket that turns each waiting connection into a client
// session of its server session, and keeps the flows every accepted
// connection is given. Reactor thread only.
class XeloServerChannel : public FlowChannel {
  public:
    static const int BACKLOG = 512;

    XeloServerChannel(Parallel::FdReactor* reactor, ServerSession* session,
                      Parallel::Reporter* reporter);
    ~XeloServerChannel() override;

    // Accepts one waiting connection and hands it to the session. 0.
    int read() override;
    // Nothing is ever written here: -2.
    int write() override;
    void get_id(int& read_fd, int& write_fd) const override;
    int get_id() const override { return socket_.get_fd(); }
    Base::TcpSocket* get_socket() override { return &socket_; }
    bool listen(const char* host, int port) override;
    bool connect(const char* host, int port, int timeout) override;
    int close(int reason) override;

    // Kept in call order and applied to each accepted connection. A reader
    // given here goes to the first connection only, which owns it; with
    // null every connection makes its own.
    void publish(Base::DataFlow* flow, Base::DataFlow::AckCallback* ack,
                 Base::DataFlow::ReadCallback* callback, Base::DataReader* reader,
                 Parallel::FlowRecycler* recycler, unsigned int* counter) override;
    // Only the flow is kept: every connection subscribes without filter,
    // without limit and with the sequence checked.
    void subscribe(Base::DataFlow* flow, Filter filter, unsigned long limit,
                   bool no_sequence_check) override;

    void publish_flow(XeloClientChannel* channel);
    void subscribe_flow(XeloClientChannel* channel);

    ServerSession* get_session() const { return session_; }
    // The bound port (useful after listening on port 0).
    int get_port() const { return socket_.get_local_port(); }

  private:
    struct PubEntry {
        Base::DataFlow* flow;
        Base::DataFlow::AckCallback* ack;
        Base::DataFlow::ReadCallback* callback;
        Base::DataReader* reader;
        Parallel::FlowRecycler* recycler;
        unsigned int* counter;
    };

    ServerSession* session_;
    Base::TcpSocket socket_;
    Base::List pub_list_;  // of PubEntry*, owned
    Base::List sub_list_;  // of Base::DataFlow*, not owned
};

}  // namespace Network

#endif  // XELMD_NETWORK_XELO_SERVER_CHANNEL_H

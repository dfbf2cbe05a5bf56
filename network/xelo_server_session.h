#ifndef XELMD_NETWORK_XELO_SERVER_SESSION_H
#define XELMD_NETWORK_XELO_SERVER_SESSION_H

#include "base/list.h"
#include "network/server_session.h"
#include "parallel/handler.h"

namespace Base {
class DataFlow;
}

namespace Network {

class XeloServerChannel;

// Listens on one address and keeps a client session for every accepted
// connection, each given the stored subscriptions and publications.
// Accepting, creating and destroying clients: the reactor thread (events
// 1011-1013); open, close, publish, subscribe: the owner, before clients
// arrive or on that thread; the destructor: any thread while the reactor
// runs.
class XeloServerSession : public ServerSession, public Parallel::Handler {
  public:
    enum {
        EVENT_ACCEPTED = 1011,    // arg: the descriptor
        EVENT_CLIENT_END = 1012,  // arg: the client session whose connection ended
        EVENT_DISCONNECT = 1013,  // disconnect every client
        EVENT_DRAIN = 1019,       // nothing: the destructor's last wait
    };

    XeloServerSession(Parallel::FdReactor* reactor, ServerSession* parent,
                      Parallel::Reporter* reporter, int factor);
    // Stops listening, then waits until the reactor thread has disconnected
    // and destroyed every client.
    ~XeloServerSession() override;

    bool open(const char* host, int port);
    int close(int reason);
    // Every accepted connection reads the flow with a reader of its own.
    void publish(Base::DataFlow* flow);
    void subscribe(Base::DataFlow* flow);

    // Posts event 1011: the descriptor is taken on the reactor thread.
    void on_accepted(int fd) override;
    // The parent's client if it makes one, else a client session of our own.
    ClientSession* create_client(int fd) override;
    void on_client_created(ClientSession* client) override;
    void on_client_destroy(ClientSession* client) override;
    int on_event(int id, void* arg) override;

    XeloServerChannel* get_channel() const { return channel_; }
    // The port listened on (useful after open with port 0).
    int get_port() const;
    // The client sessions, oldest first. Reactor thread only.
    const Base::List& get_clients() const { return clients_; }
    int get_client_count() const { return clients_.get_count(); }

  private:
    void disconnect_all();
    void destroy_client(ClientSession* client);

    int factor_;
    XeloServerChannel* channel_;
    Base::List clients_;  // of ClientSession*, owned
};

}  // namespace Network

#endif  // XELMD_NETWORK_XELO_SERVER_SESSION_H

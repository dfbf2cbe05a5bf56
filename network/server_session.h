#ifndef XELMD_NETWORK_SERVER_SESSION_H
#define XELMD_NETWORK_SERVER_SESSION_H

namespace Parallel {
class FdReactor;
class Reporter;
}  // namespace Parallel

namespace Network {

class ClientSession;

// A node of the server tree: every accepted connection becomes a client
// session; what a server does not decide itself goes to its parent.
// Reactor thread only.
class ServerSession {
  public:
    ServerSession(Parallel::FdReactor* reactor, ServerSession* parent, Parallel::Reporter* reporter)
        : reactor_(reactor), parent_(parent), reporter_(reporter) {}
    virtual ~ServerSession() {}
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    // create_client, on_client_created and the client's on_created; a
    // descriptor nobody takes is closed.
    virtual void on_accepted(int fd);
    // The parent's client, or null.
    virtual ClientSession* create_client(int fd);
    virtual void on_client_created(ClientSession* client);
    virtual void on_client_destroy(ClientSession* client);

    Parallel::FdReactor* get_reactor() const { return reactor_; }
    ServerSession* get_parent() const { return parent_; }
    Parallel::Reporter* get_reporter() const { return reporter_; }

  private:
    Parallel::FdReactor* reactor_;
    ServerSession* parent_;
    Parallel::Reporter* reporter_;
};

}  // namespace Network

#endif  // XELMD_NETWORK_SERVER_SESSION_H

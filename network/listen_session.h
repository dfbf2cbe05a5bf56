#ifndef XELMD_NETWORK_LISTEN_SESSION_H
#define XELMD_NETWORK_LISTEN_SESSION_H

namespace Parallel {
class FdReactor;
class Reporter;
}  // namespace Parallel

namespace Network {

// The least a listener offers: accepted descriptors go up the tree.
// Reactor thread only.
class ListenSession {
  public:
    ListenSession(Parallel::FdReactor* reactor, ListenSession* parent, Parallel::Reporter* reporter)
        : reactor_(reactor), parent_(parent), reporter_(reporter) {}
    virtual ~ListenSession() {}
    ListenSession(const ListenSession&) = delete;
    ListenSession& operator=(const ListenSession&) = delete;

    // Passes the descriptor to the parent; without one nobody would own it,
    // so it is closed.
    virtual void on_accepted(int fd);

    Parallel::FdReactor* get_reactor() const { return reactor_; }
    ListenSession* get_parent() const { return parent_; }
    Parallel::Reporter* get_reporter() const { return reporter_; }

  private:
    Parallel::FdReactor* reactor_;
    ListenSession* parent_;
    Parallel::Reporter* reporter_;
};

}  // namespace Network

#endif  // XELMD_NETWORK_LISTEN_SESSION_H

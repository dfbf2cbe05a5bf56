#ifndef XELMD_NETWORK_XELO_BOND_SERVER_SESSION_H
#define XELMD_NETWORK_XELO_BOND_SERVER_SESSION_H

#include "network/server_session.h"

namespace Base {
class DataFlow;
}

namespace Network {

class XeloServerSession;

// Listens on up to 256 addresses, one server session each, all with this
// bond as parent. The owner's thread, as for XeloServerSession.
class XeloBondServerSession : public ServerSession {
  public:
    static const int MAX_LISTENERS = 256;

    XeloBondServerSession(Parallel::FdReactor* reactor, ServerSession* parent,
                          Parallel::Reporter* reporter, int factor);
    ~XeloBondServerSession() override;

    // A new listener in the first free place; false when none is left or
    // the address cannot be listened on (the place stays free).
    bool open(const char* host, int port);
    void close(int reason);
    // Applied to every listener opened so far.
    void publish(Base::DataFlow* flow);
    void subscribe(Base::DataFlow* flow);

    XeloServerSession* get_listener(int index) const { return listeners_[index]; }
    int get_listener_count() const;

  private:
    int factor_;
    XeloServerSession* listeners_[MAX_LISTENERS];
};

}  // namespace Network

#endif  // XELMD_NETWORK_XELO_BOND_SERVER_SESSION_H

#include "tools/front/front_connection.h"

#include "network/xelo_client_channel.h"

namespace Front {

FrontConnection::FrontConnection(Parallel::FdReactor* reactor, FrontContext* context, int number,
                                 const std::vector<Scenario::Fault>& faults)
    : Network::XeloClientSession(reactor, nullptr, nullptr, nullptr, 2),
      dialogue_(context, number, faults) {}

FrontConnection::~FrontConnection() {
    // The channel's readers point into the dialogue's flows: close it while
    // they still exist (the base destructor would do it after them).
    dialogue_.detach();
    close(0);
}

void FrontConnection::on_connected() {
    // The channel is up but not yet in the reactor: publish before any read.
    dialogue_.attach(get_channel());
    Network::XeloClientSession::on_connected();
}

void FrontConnection::on_disconnected(int reason) {
    dialogue_.on_closed(reason);
    Network::XeloClientSession::on_disconnected(reason);
}

}  // namespace Front

#ifndef XELMD_TOOLS_FRONT_FRONT_CONNECTION_H
#define XELMD_TOOLS_FRONT_FRONT_CONNECTION_H

#include "network/xelo_client_session.h"
#include "tools/front/front_dialogue.h"

namespace Front {

// One accepted connection: the library's client session on the accepted
// descriptor, with the front's dialogue attached as soon as the channel is
// up and detached when it goes. Reactor thread.
class FrontConnection : public Network::XeloClientSession {
  public:
    FrontConnection(Parallel::FdReactor* reactor, FrontContext* context, int number,
                    const std::vector<Scenario::Fault>& faults);
    ~FrontConnection() override;

    void on_connected() override;
    void on_disconnected(int reason) override;
    FrontDialogue* get_dialogue() { return &dialogue_; }

  private:
    FrontDialogue dialogue_;
};

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_FRONT_CONNECTION_H

#ifndef XELMD_TOOLS_FRONT_FRONT_SERVER_H
#define XELMD_TOOLS_FRONT_FRONT_SERVER_H

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "network/server_session.h"
#include "parallel/handler.h"
#include "tools/front/depth_csv.h"
#include "tools/front/front_dialogue.h"
#include "tools/front/scenario.h"
#include "tools/front/synthetic_market.h"
#include "tools/front/terminal_check.h"
#include "tools/front/topic_board.h"
#include "tools/front/user_table.h"

namespace Parallel {
class FdReactor;
struct Timer;
}  // namespace Parallel

namespace Network {
class XeloBondServerSession;
}

namespace Front {

class FrontConnection;

// A whole simulated front: its own reactor thread, the listening addresses
// (the library's server side), one dialogue per connection, the topics fed
// by the synthetic market or a CSV replay at a steady rate, scripted
// faults, and a status line every second. start and stop: the owner's
// thread; everything else runs on the reactor thread; the counters may be
// read from any thread.
class FrontServer : public Network::ServerSession, public Parallel::Handler {
  public:
    struct Options {
        std::vector<std::string> listen = {"127.0.0.1:30007"};
        std::vector<int> topics = {100};
        int instruments = 4;
        unsigned int rate = 50;   // packets per second per topic
        int snapshot_every = 20;  // every n-th packet of a topic is a full snapshot
        // Packets of history held per topic behind its slowest reader (0:
        // all): half an hour at the default rate.
        unsigned long keep = 90000;
        unsigned int seed = 1;
        std::string trading_day;  // empty: today
        KeyReply::Mode key_mode = KeyReply::SM2;
        int cipher_type = 4;
        std::string users_path;     // empty: every user accepted
        std::string terminal_key;   // empty: terminal information not checked
        std::string scenario_path;  // empty: no faults
        std::string replay_path;    // empty: the synthetic market
        FILE* log = nullptr;        // events and the status line; null: quiet
    };
    enum { TIMER_MARKET = 21, TIMER_STATUS = 22 };

    FrontServer();
    ~FrontServer() override;
    FrontServer(const FrontServer&) = delete;
    FrontServer& operator=(const FrontServer&) = delete;

    // Loads the files, starts the reactor and listens; false with a message.
    bool start(const Options& options, std::string& error);
    // Disconnects every client and stops the reactor; idempotent.
    void stop();

    // The ports actually listened on, in the order of Options::listen.
    const std::vector<int>& get_ports() const { return ports_; }
    int get_client_count() const { return clients_.load(std::memory_order_relaxed); }
    unsigned long get_market_count() const { return market_sent_.load(std::memory_order_relaxed); }
    const FrontContext& get_context() const { return context_; }
    // One status line: clients, packets and rates since the previous call.
    std::string status_line(unsigned long now_ms);

    // Server tree (reactor thread).
    Network::ClientSession* create_client(int fd) override;
    void on_client_created(Network::ClientSession* client) override;
    void on_client_destroy(Network::ClientSession* client) override;
    bool on_timer(int id) override;

  private:
    void feed_market(unsigned long now_ms);
    bool feed_replay(int topic_index);
    static unsigned long now_ms();

    Options options_;
    std::string trading_day_;
    UserTable users_;
    TerminalCheck terminal_;
    Scenario scenario_;
    TopicBoard board_;
    FrontContext context_;
    std::vector<std::unique_ptr<SyntheticMarket>> markets_;
    std::vector<unsigned long> sent_per_topic_;
    std::vector<int> next_instrument_;
    DepthCsv replay_;
    bool replaying_;
    unsigned long market_start_ms_;
    Parallel::FdReactor* reactor_;
    Network::XeloBondServerSession* bond_;
    Parallel::Timer* market_timer_;
    Parallel::Timer* status_timer_;
    std::vector<int> ports_;
    std::vector<FrontConnection*> connections_;
    int accepted_;
    std::atomic<int> clients_;
    std::atomic<unsigned long> market_sent_;
    unsigned long last_status_ms_, last_out_, last_in_, last_market_;
};

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_FRONT_SERVER_H

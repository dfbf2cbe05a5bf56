#ifndef XELMD_TOOLS_FRONT_NAME_SERVER_H
#define XELMD_TOOLS_FRONT_NAME_SERVER_H

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace Front {

// Answers every connection with the front addresses, one "tcp://host:port"
// line each (CR LF), then closes it. Its own thread; start and stop from
// the owner's.
class NameServer {
  public:
    ~NameServer() { stop(); }
    // Listens on host:port (0: any free port); false with a message.
    bool start(const std::string& host, int port, const std::vector<std::string>& fronts,
               std::string& error);
    void stop();
    int get_port() const { return port_; }
    unsigned long get_answered() const { return answered_.load(std::memory_order_relaxed); }

  private:
    void run();

    int fd_ = -1;
    int port_ = 0;
    std::string answer_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<unsigned long> answered_{0};
};

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_NAME_SERVER_H

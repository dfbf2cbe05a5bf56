#ifndef XELMD_TOOLS_BRIDGE_METRICS_SERVER_H
#define XELMD_TOOLS_BRIDGE_METRICS_SERVER_H

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace Bridge {

// A tiny HTTP/1.0 server on its own thread: GET /metrics answers with the
// text render() gives, anything else 404. One request per connection.
class MetricsServer {
  public:
    explicit MetricsServer(std::function<std::string()> render) : render_(std::move(render)) {}
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Listens on host:port (port 0: a free one) and starts the thread.
    bool start(const std::string& host, int port, std::string& error);
    int port() const { return port_; }
    void stop();

  private:
    void run();
    void answer(int fd);

    std::function<std::string()> render_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

}  // namespace Bridge

#endif  // XELMD_TOOLS_BRIDGE_METRICS_SERVER_H

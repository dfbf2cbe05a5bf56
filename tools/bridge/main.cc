// xelmd-bridge: logs in to a front once and publishes every depth update into
// a NATS JetStream stream, exactly once across restarts of the bridge and of
// the servers; consumers anywhere subscribe there.
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "api/TarnXeloMduserApi.h"
#include "tools/bridge/bridge_spi.h"
#include "tools/bridge/metrics.h"
#include "tools/bridge/metrics_server.h"
#include "tools/bridge/options.h"
#include "tools/bridge/publisher.h"
#include "tools/bridge/update_queue.h"
#include "tools/common/api_setup.h"
#include "tools/common/directories.h"
#include "tools/common/reason_text.h"
#include "tools/record/connection_file.h"

namespace {

const int EXIT_RUNTIME = 1;    // login refused, stream settings, renumbered packets
const int EXIT_SETUP = 2;      // usage, state directory, metrics address
const int EXIT_INIT = 3;       // the library would not start
const int EXIT_NATS = 4;       // NATS unreachable at start, publishes not drained at exit
const int CONNECT_MS = 10000;  // NATS reachable and the stream ready at start
const int RETRY_MS = 250;
const int DRAIN_LIMIT_MS = 60000;
const int STATUS_MS = 1000;
// Updates queued beyond --buffer to finish the packet under way.
const size_t PACKET_ROOM = 4096;

int fail(int code, const std::string& message) {
    fprintf(stderr, "xelmd-bridge: %s\n", message.c_str());
    return code;
}

// The state directory and whether it is the bridge's own temporary one.
struct StateDir {
    std::string path;
    bool temporary = false;
    ~StateDir() {
        std::error_code ignored;
        if (temporary) std::filesystem::remove_all(path, ignored);
    }
};

bool prepare_state_dir(const Bridge::Options& options, StateDir& dir, std::string& error) {
    if (!options.state_dir.empty()) {
        dir.path = options.state_dir;
        if (ToolCommon::make_dirs(dir.path, error)) return true;
        error = "--state-dir: " + error;
        return false;
    }
    char path[] = "/tmp/xelmd-bridge-XXXXXX";
    if (mkdtemp(path) == nullptr) {
        error = std::string("cannot create a temporary directory: ") + strerror(errno);
        return false;
    }
    dir.path = path;
    dir.temporary = true;
    return true;
}

// The connection file asks each topic from its first packet (the packets up
// to the commit point rebuild the library's merged records); a topic
// without a commit point is asked by its mode.
CTarnXeloMduserApi* create_api(const Bridge::Options& options, const std::string& dir,
                               const std::map<int, Bridge::PacketLedger::Point>& resume,
                               std::string& error) {
    std::map<int, long> positions;
    for (const auto& r : resume)
        if (r.second.resume_from() != Bridge::PacketLedger::UNKNOWN)
            positions[r.first] = r.second.resume_from() - 1;
    std::string path = Record::ConnectionFile::path(dir);
    int day = 0, data_center = 0;
    Record::ConnectionFile::read_head(path, day, data_center);
    if (!Record::ConnectionFile::write(
            path, Record::ConnectionFile::format(day, data_center, positions), error))
        return nullptr;
    return ToolCommon::create_api(options, dir, positions);
}

// One status line: counters, rate since the last line, per topic the last
// packet and the commit point.
class StatusLine {
  public:
    StatusLine(const Bridge::Options& options, Bridge::Metrics& metrics,
               Bridge::Publisher& publisher)
        : options_(options),
          metrics_(metrics),
          publisher_(publisher),
          tty_(isatty(STDERR_FILENO) != 0),
          last_(std::chrono::steady_clock::now()) {}

    void tick(bool force) {
        long ms = ToolCommon::elapsed_ms(last_);
        if (options_.quiet || (!force && ms < STATUS_MS)) return;
        last_ = std::chrono::steady_clock::now();
        unsigned long acked = metrics_.acknowledged.load();
        double rate = ms > 0 ? (acked - last_acked_) * 1000.0 / ms : 0;
        last_acked_ = acked;
        char text[256];
        snprintf(text, sizeof text,
                 "xelmd-bridge: %lu received, %lu published, %lu acked (%.0f/s), %ld in flight, "
                 "%zu buffered",
                 metrics_.received.load(), metrics_.published.load(), acked, rate,
                 metrics_.in_flight.load(), publisher_.buffered());
        std::string line = text;
        for (const auto& c : publisher_.ledger().commits()) {
            snprintf(text, sizeof text, " | topic %d: packet %ld, commit %ld", c.first,
                     metrics_.last_sequence(c.first), c.second);
            line += text;
        }
        if (metrics_.republished.load() != 0)
            line += " | republished " + std::to_string(metrics_.republished.load());
        if (metrics_.deferred.load() != 0)
            line += " | deferred to the front's replay " + std::to_string(metrics_.deferred.load());
        if (metrics_.nats_reconnections.load() != 0)
            line += " | NATS reconnections " + std::to_string(metrics_.nats_reconnections.load());
        if (!publisher_.connected()) line += " | NATS unreachable";
        if (tty_ && force) fputc('\n', stderr);
        fprintf(stderr, tty_ && !force ? "\r%s\033[K" : "%s\n", line.c_str());
    }

  private:
    const Bridge::Options& options_;
    Bridge::Metrics& metrics_;
    Bridge::Publisher& publisher_;
    bool tty_;
    std::chrono::steady_clock::time_point last_;
    unsigned long last_acked_ = 0;
};

enum class SessionEnd { SIGNAL, FAILED, OVERFLOW };

// Runs one API instance until a signal, a failure or a full buffer.
SessionEnd run_session(Bridge::BridgeSpi& spi, Bridge::Publisher& publisher, StatusLine& status,
                       const sigset_t& stop) {
    for (;;) {
        timespec wait = {0, 100 * 1000000L};
        if (sigtimedwait(&stop, nullptr, &wait) > 0) return SessionEnd::SIGNAL;
        if (spi.failed() || publisher.failed()) return SessionEnd::FAILED;
        if (spi.overflowed()) return SessionEnd::OVERFLOW;
        status.tick(false);
    }
}

// Back-pressure: with the front left, waits until NATS took every buffered
// update; false on a signal or a failure meanwhile.
bool wait_for_drain(Bridge::Publisher& publisher, StatusLine& status, const sigset_t& stop) {
    while (publisher.buffered() != 0 || !publisher.connected()) {
        timespec wait = {0, 100 * 1000000L};
        if (sigtimedwait(&stop, nullptr, &wait) > 0 || publisher.failed()) return false;
        status.tick(false);
    }
    return true;
}

// Each topic's commit point; for a topic without one that a previous
// session saw, the packet before the first it saw, so that updates deferred
// before any reached the stream come again.
std::map<int, Bridge::PacketLedger::Point> resume_points(Bridge::PacketLedger& ledger,
                                                         Bridge::BridgeSpi& spi) {
    for (const auto& f : spi.first_packets()) ledger.set_base(f.first, f.second - 1);
    return ledger.points();
}

struct Outcome {
    int code = 0;
    std::string error;
};

// Sessions one after the other until a signal or a failure.
Outcome bridge(const Bridge::Options& options, const std::string& dir, Bridge::Publisher& publisher,
               Bridge::BridgeSpi& spi, StatusLine& status, Bridge::Metrics& metrics,
               const sigset_t& stop) {
    for (;;) {
        Outcome out;
        // Read once: acknowledgements may move the commit points meanwhile,
        // and the callbacks must expect what the connection file asks for.
        const std::map<int, Bridge::PacketLedger::Point> resume =
            resume_points(publisher.ledger(), spi);
        CTarnXeloMduserApi* api = create_api(options, dir, resume, out.error);
        if (api == nullptr) return Outcome{EXIT_SETUP, out.error};
        spi.begin_session(api, resume);
        api->RegisterSpi(&spi);
        int rc = api->Init();
        if (rc != 0)  // Without a successful Init there is nothing to release.
            return Outcome{EXIT_INIT, "the library did not start (Init " +
                                          ToolCommon::describe_result(rc) + ")"};
        SessionEnd end = run_session(spi, publisher, status, stop);
        // Release stops the network thread, so no update arrives after it.
        spi.stopping();
        api->Release();
        api->Join();
        if (end == SessionEnd::SIGNAL) return out;
        if (end == SessionEnd::FAILED) {
            out.error = spi.failed() ? spi.get_error() : publisher.error();
            return Outcome{EXIT_RUNTIME, out.error};
        }
        metrics.front_reconnections.fetch_add(1);
        if (!options.quiet)
            fprintf(stderr,
                    "\nxelmd-bridge: %ld updates buffered: left the front until NATS takes "
                    "them\n",
                    options.buffer);
        if (!wait_for_drain(publisher, status, stop))
            return publisher.failed() ? Outcome{EXIT_RUNTIME, publisher.error()} : Outcome{};
        if (!options.quiet) fprintf(stderr, "xelmd-bridge: buffer drained, back to the front\n");
    }
}

std::vector<int> topic_ids(const Bridge::Options& options) {
    std::vector<int> ids;
    for (const Bridge::Options::Topic& t : options.topics) ids.push_back(t.id);
    return ids;
}

// Connects, prepares the stream and reads the commit points within one
// start limit. A server restarting meanwhile (a timeout, a closed connection)
// is waited for; a stream with other settings is not.
int open_stream(Bridge::Publisher& publisher, std::string& error) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(CONNECT_MS);
    if (!publisher.connect(CONNECT_MS, error)) return EXIT_NATS;
    for (;;) {
        int code = publisher.prepare_stream(error);
        if (code == 0) code = publisher.read_commits(error) ? 0 : EXIT_NATS;
        if (code != EXIT_NATS || std::chrono::steady_clock::now() >= deadline) return code;
        std::this_thread::sleep_for(std::chrono::milliseconds(RETRY_MS));
    }
}

}  // namespace

int main(int argc, char** argv) {
    Bridge::Options options;
    std::string error;
    if (!options.parse(argc, argv, error)) return fail(EXIT_SETUP, error);
    if (options.help) {
        fputs(Bridge::Options::usage(), stdout);
        return 0;
    }
    StateDir dir;
    if (!prepare_state_dir(options, dir, error)) return fail(EXIT_SETUP, error);

    // Blocked before any thread starts (the NATS client's, the library's),
    // so that the signals wait for sigtimedwait here.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Bridge::Metrics metrics(topic_ids(options));
    Bridge::UpdateQueue queue(static_cast<size_t>(options.buffer) + PACKET_ROOM);
    Bridge::Publisher publisher(options, queue, metrics);
    int code = open_stream(publisher, error);
    if (code != 0) return fail(code, error);
    Bridge::MetricsServer server(
        [&] { return metrics.render(publisher.buffered(), publisher.ledger().commits()); });
    if (options.metrics_port >= 0 &&
        !server.start(options.metrics_host, options.metrics_port, error))
        return fail(EXIT_SETUP, error);
    for (const auto& c : publisher.ledger().points()) {
        if (options.quiet) continue;
        fprintf(stderr, "xelmd-bridge: topic %d continues after packet %ld", c.first,
                c.second.commit);
        if (c.second.resume_from() <= c.second.commit)
            fprintf(stderr, " (replayed from packet %ld)", c.second.resume_from());
        fputc('\n', stderr);
    }

    publisher.start();
    StatusLine status(options, metrics, publisher);
    Bridge::BridgeSpi spi(options, queue, metrics);
    Outcome outcome = bridge(options, dir.path, publisher, spi, status, metrics, stop);
    // Whatever the reason, what was taken is published and committed.
    bool drained = publisher.finish(outcome.code == 0 ? DRAIN_LIMIT_MS : options.ack_wait_ms);
    status.tick(true);
    if (outcome.code != 0) return fail(outcome.code, outcome.error);
    if (!drained)
        return fail(EXIT_NATS, std::to_string(publisher.buffered()) + " buffered and " +
                                   std::to_string(metrics.in_flight.load()) +
                                   " unacknowledged publishes not drained within " +
                                   std::to_string(DRAIN_LIMIT_MS / 1000) + " s");
    return 0;
}

// xelmd-record: records depth market data to CSV or JSON lines, one file per
// topic and trading day, and continues after any stop exactly where its own
// files end.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "api/TarnXeloMduserApi.h"
#include "tools/common/api_setup.h"
#include "tools/common/directories.h"
#include "tools/common/reason_text.h"
#include "tools/record/connection_file.h"
#include "tools/record/options.h"
#include "tools/record/recorder_spi.h"
#include "tools/record/resume_scanner.h"

namespace {

const int EXIT_RUNTIME = 1;  // login refused, a write failed
const int EXIT_SETUP = 2;    // usage, address, directory
const int EXIT_INIT = 3;     // the library would not start

int fail(int code, const std::string& message) {
    fprintf(stderr, "xelmd-record: %s\n", message.c_str());
    return code;
}

// One recorder per directory: a second would write the same files.
int lock_dir(const std::string& dir, std::string& error) {
    std::string path = dir + "/.xelmd-record.lock";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write in " + dir + ": " + strerror(errno);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = "another xelmd-record is recording in " + dir;
        close(fd);
        return -1;
    }
    return fd;
}

// The connection file gives each recorded topic the position it is asked
// from at login: its recording's origin, so that the packets on disk are
// replayed to rebuild the library's merged records before rows continue.
bool prepare_resume(const Record::Options& options,
                    std::map<int, Record::ResumeScanner::Span>& spans, std::string& error) {
    Record::ResumeScanner scanner;
    if (!scanner.scan(options.dir, options.format, error)) return false;
    spans.clear();
    std::map<int, long> origins;
    for (const Record::Options::Topic& t : options.topics) {
        auto s = scanner.spans().find(t.id);
        if (s == scanner.spans().end()) continue;
        spans[t.id] = s->second;
        origins[t.id] = s->second.origin;
    }
    std::string path = Record::ConnectionFile::path(options.dir);
    int day = 0, data_center = 0;
    Record::ConnectionFile::read_head(path, day, data_center);
    if (scanner.latest_day() != 0) day = scanner.latest_day();
    if (scanner.dropped_bytes() != 0 && !options.quiet)
        fprintf(stderr, "xelmd-record: cut %ld bytes of unfinished rows\n",
                scanner.dropped_bytes());
    for (const auto& s : spans)
        if (!options.quiet)
            fprintf(stderr,
                    "xelmd-record: topic %d continues after packet %ld (packets %ld to %ld "
                    "replayed without writing)\n",
                    s.first, s.second.position, s.second.origin + 1, s.second.position);
    return Record::ConnectionFile::write(
        path, Record::ConnectionFile::format(day, data_center, origins), error);
}

// Waits for SIGINT or SIGTERM while flushing, syncing and reporting.
void run(const Record::Options& options, Record::RecorderSpi& spi, const sigset_t& stop) {
    bool tty = isatty(STDERR_FILENO) != 0;
    auto last_sync = std::chrono::steady_clock::now();
    auto last_status = last_sync;
    while (!spi.failed()) {
        timespec wait = {options.flush_ms / 1000, (options.flush_ms % 1000) * 1000000L};
        if (sigtimedwait(&stop, nullptr, &wait) > 0) break;
        bool to_disk = options.sync_ms > 0 && ToolCommon::elapsed_ms(last_sync) >= options.sync_ms;
        if (to_disk) last_sync = std::chrono::steady_clock::now();
        spi.flush(to_disk);
        long ms = ToolCommon::elapsed_ms(last_status);
        if (!options.quiet && ms >= 1000) {
            last_status = std::chrono::steady_clock::now();
            std::string line = spi.status(ms / 1000.0);
            fprintf(stderr, tty ? "\r%s\033[K" : "%s\n", line.c_str());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Record::Options options;
    std::string error;
    if (!options.parse(argc, argv, error)) return fail(EXIT_SETUP, error);
    if (options.help) {
        fputs(Record::Options::usage(), stdout);
        return 0;
    }
    if (!ToolCommon::make_dirs(options.dir, error)) return fail(EXIT_SETUP, error);
    int lock = lock_dir(options.dir, error);
    if (lock < 0) return fail(EXIT_SETUP, error);
    std::map<int, Record::ResumeScanner::Span> spans;
    if (!prepare_resume(options, spans, error)) return fail(EXIT_SETUP, error);

    // Blocked before Init so the network thread inherits the mask and the
    // signals wait for sigtimedwait here.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    CTarnXeloMduserApi* api = ToolCommon::create_api(options, options.dir, spans);
    Record::RecorderSpi spi(options, api);
    for (const auto& s : spans) spi.resume(s.first, s.second.origin, s.second.position);
    api->RegisterSpi(&spi);
    int rc = api->Init();
    if (rc != 0) {
        // Without a successful Init there is nothing to release.
        return fail(EXIT_INIT,
                    "the library did not start (Init " + ToolCommon::describe_result(rc) + ")");
    }
    run(options, spi, stop);
    // Release stops the network thread, so no row arrives after it.
    spi.stopping();
    api->Release();
    api->Join();
    bool written = spi.close();
    if (!options.quiet) fprintf(stderr, "\n%s\n", spi.status(0).c_str());
    close(lock);
    if (spi.failed() || !written) return fail(EXIT_RUNTIME, spi.get_error());
    return 0;
}

// xelmd-e2e-trace-receiver: the public-interface receiver linked with the
// internal classes, so that it can install a trace sink and record what the
// network thread did around every update (--trace FILE). Each update also
// reads the thread's page-fault and context-switch counters, which costs
// about half a microsecond: the traced latencies are a little higher than
// the untraced ones, and serve to explain, not to measure.
#include <sys/resource.h>

#include <atomic>
#include <vector>

#include "base/trace.h"
#include "bench/e2e/receiver.h"

namespace {

struct Record {
    uint64_t ns;
    uint32_t event;
    uint32_t minor_faults;  // updates: the thread's counters so far
    uint64_t arg;
    uint32_t voluntary;
    uint32_t involuntary;
};

// A pass that takes longer than this is recorded, with its length, even
// when nothing else in it was: preemption shows as such a pass.
const uint64_t LONG_PASS_NS = 20000;
const size_t CAPACITY = 3u << 20;

std::vector<Record> records;
std::atomic<size_t> used{0};
thread_local uint64_t pass_start = 0;

void sink(int event, unsigned long arg) {
    uint64_t now = E2e::monotonic_ns();
    if (event == Base::Trace::PASS) {
        uint64_t begun = pass_start;
        pass_start = now;
        if (begun == 0 || now - begun < LONG_PASS_NS) return;
        arg = now - begun;  // the pass that just ended
    } else if (event == Base::Trace::SLEEP) {
        pass_start = 0;  // a blocking wait is not a long pass
    }
    size_t at = used.fetch_add(1, std::memory_order_relaxed);
    if (at >= records.size()) return;
    Record& r = records[at];
    r.ns = now;
    r.event = static_cast<uint32_t>(event);
    r.arg = arg;
    if (event == Base::Trace::UPDATE) {
        struct rusage u;
        getrusage(RUSAGE_THREAD, &u);
        r.minor_faults = static_cast<uint32_t>(u.ru_minflt);
        r.voluntary = static_cast<uint32_t>(u.ru_nvcsw);
        r.involuntary = static_cast<uint32_t>(u.ru_nivcsw);
    }
}

bool dump(const char* path) {
    FILE* f = fopen(path, "w");
    if (f == nullptr) return false;
    size_t n = std::min(used.load(), records.size());
    for (size_t i = 0; i < n; ++i) {
        const Record& r = records[i];
        fprintf(f, "%lu %s %lu", static_cast<unsigned long>(r.ns), Base::Trace::name(r.event),
                static_cast<unsigned long>(r.arg));
        if (r.event == Base::Trace::UPDATE)
            fprintf(f, " %u %u %u", r.minor_faults, r.voluntary, r.involuntary);
        fputc('\n', f);
    }
    return fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    // --trace FILE is this program's own; the rest is the receiver's.
    const char* trace = nullptr;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) == "--trace" && i + 1 < argc)
            trace = argv[++i];
        else
            args.push_back(argv[i]);
    }
    E2e::ReceiverOptions o;
    if (trace == nullptr || !E2e::parse_receiver(static_cast<int>(args.size()), args.data(), o)) {
        fputs("usage: xelmd-e2e-trace-receiver --trace FILE --port PORT [receiver options]\n",
              stderr);
        return 2;
    }
    // Touched now, so that recording takes no page fault.
    records.assign(CAPACITY, Record{});
    Base::Trace::set_sink(sink);
    CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi(o.flow_path.c_str());
    E2e::Receiver r(o.latency);
    r.trace = [](uint64_t latency) { Base::Trace::note(Base::Trace::UPDATE, latency); };
    int status = E2e::run_receiver(api, r, o);
    api->Join();
    Base::Trace::set_sink(nullptr);
    E2e::print_result(r, o, "library-traced");
    if (!dump(trace)) fprintf(stderr, "xelmd-e2e-trace-receiver: cannot write %s\n", trace);
    return status != 0 ? status : r.count() > 0 ? 0 : 3;
}

// xelmd-e2e-spin-receiver: the same receiving application, but its API
// object runs on an outside reactor that the benchmark drives by hand on a
// thread of its own, every pass polling epoll without waiting, so that an
// update never finds the thread asleep. The product has no such setting; this measures what the
// idle wait costs. Internal classes (the API's outside-reactor constructor).
#include <atomic>
#include <thread>

#include "api/md_api.h"
#include "base/measure.h"
#include "bench/e2e/receiver.h"
#include "parallel/fd_reactor.h"

namespace {

// An epoll reactor driven by the benchmark's own thread, whose loop never
// blocks: the busy window is held open before every pass, so epoll_wait is
// always called with a zero timeout. The driving thread only.
class SpinReactor : public Parallel::FdReactor {
  public:
    SpinReactor() : Parallel::FdReactor(nullptr) {}
    void spin(const std::atomic<bool>& stop) {
        begin_loop();
        while (!stop.load(std::memory_order_relaxed)) {
            set_busy_until(~0UL >> 1);
            run_pass(Base::Measure::get_clock());
        }
        end_loop();
    }
};

}  // namespace

int main(int argc, char** argv) {
    E2e::ReceiverOptions o;
    if (!E2e::parse_receiver(argc, argv, o)) {
        fputs("usage: xelmd-e2e-spin-receiver --port PORT [--latency] [--samples FILE]\n", stderr);
        return 2;
    }
    auto* reactor = new SpinReactor();
    std::atomic<bool> stop{false};
    std::thread loop([&] { reactor->spin(stop); });
    auto* api = new Api::MdApi(o.flow_path.c_str(), reactor);
    E2e::Receiver r(o.latency);
    int status = E2e::run_receiver(api, r, o);
    api->Join();
    stop.store(true);
    loop.join();
    delete reactor;
    E2e::print_result(r, o, "library-spin");
    return status != 0 ? status : r.count() > 0 ? 0 : 3;
}

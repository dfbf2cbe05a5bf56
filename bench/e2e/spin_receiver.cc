// xelmd-e2e-spin-receiver: the same receiving application, but its API
// object runs on a network thread that the benchmark supplies and spins:
// every pass polls epoll without waiting, so an update never finds the
// thread asleep. The product has no such setting; this measures what the
// idle wait costs. Internal classes (the API's outside-reactor constructor).
#include "api/md_api.h"
#include "base/measure.h"
#include "bench/e2e/receiver.h"
#include "parallel/fd_reactor.h"

namespace {

// An epoll reactor whose loop never blocks: the busy window is held open
// before every pass, so epoll_wait is always called with a zero timeout.
// Its own thread.
class SpinReactor : public Parallel::FdReactor {
  public:
    SpinReactor() : Parallel::FdReactor(nullptr) {}

  protected:
    void thread_proc() override {
        begin_loop();
        while (keep_running()) {
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
    if (!reactor->create(true, nullptr)) return 1;
    auto* api = new Api::MdApi(o.flow_path.c_str(), reactor);
    E2e::Receiver r(o.latency);
    int status = E2e::run_receiver(api, r, o);
    api->Join();
    reactor->stop();
    reactor->join();
    delete reactor;
    E2e::print_result(r, o, "library-spin");
    return status != 0 ? status : r.count() > 0 ? 0 : 3;
}

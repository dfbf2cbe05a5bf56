// xelmd-e2e-receiver: the public-interface receiver of the end-to-end
// benchmark, linked with the shared library as an application is.
#include "bench/e2e/receiver.h"

int main(int argc, char** argv) {
    E2e::ReceiverOptions o;
    if (!E2e::parse_receiver(argc, argv, o)) {
        fputs(
            "usage: xelmd-e2e-receiver --port PORT [--latency] [--samples FILE] "
            "[--flow-path DIR] [--quiet S] [--limit S]\n",
            stderr);
        return 2;
    }
    CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi(o.flow_path.c_str());
    E2e::Receiver r(o.latency);
    int status = E2e::run_receiver(api, r, o);
    api->Join();
    E2e::print_result(r, o, "library");
    if (r.count() == 0)
        fprintf(stderr, "xelmd-e2e-receiver: no data (disconnect reason %d)\n",
                r.disconnect_reason.load());
    return status != 0 ? status : r.count() > 0 ? 0 : 3;
}

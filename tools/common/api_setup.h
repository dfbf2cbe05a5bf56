// What the subscribing programs (recorder, bridge) do alike with the API
// object before Init, and how they measure intervals. Header-only.
#ifndef XELMD_TOOLS_COMMON_API_SETUP_H
#define XELMD_TOOLS_COMMON_API_SETUP_H

#include <chrono>
#include <string>

#include "api/TarnXeloMduserApi.h"

namespace ToolCommon {

// An API object keeping its connection file in flow_path, with the
// options' fronts or name servers and heartbeat; a topic in `saved` (any
// container answering count(topic)) is asked from the connection file's
// position, the others by their mode. Options needs fronts, name_servers,
// topics (id, from_now) and heartbeat (0: the library's).
template <class Options, class Saved>
CTarnXeloMduserApi* create_api(const Options& options, const std::string& flow_path,
                               const Saved& saved) {
    CTarnXeloMduserApi* api = CTarnXeloMduserApi::CreateXeloMduserApi(flow_path.c_str());
    for (const std::string& f : options.fronts) api->RegisterFront(f.c_str());
    for (const std::string& n : options.name_servers) api->RegisterNameServer(n.c_str());
    for (const auto& t : options.topics) {
        TE_RESUME_TYPE mode = saved.count(t.id) != 0 ? TE_RESUME_FROM_SAVED
                              : t.from_now           ? TE_RESUME_FROM_NOW
                                                     : TE_RESUME_FROM_BEGINNING;
        api->SubscribeMarketDataTopic(t.id, mode);
    }
    if (options.heartbeat != 0) api->SetHeartbeatTimeout(static_cast<unsigned>(options.heartbeat));
    return api;
}

inline long elapsed_ms(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - since)
                                 .count());
}

}  // namespace ToolCommon

#endif  // XELMD_TOOLS_COMMON_API_SETUP_H

#ifndef XELMD_TOOLS_BRIDGE_UPDATE_H
#define XELMD_TOOLS_BRIDGE_UPDATE_H

#include <cstdint>

#include "api/TarnXeloMduserApi.h"

namespace Bridge {

// What the library's callbacks hand to the publisher: one depth update, or
// the end of a packet with the number of updates it carried.
struct Update {
    enum Kind { DATA, PACKET_END };
    Kind kind = DATA;
    int topic = 0;
    long seq = 0;
    int index = 0;            // DATA: position in the packet; PACKET_END: update count
    int64_t received_ns = 0;  // CLOCK_REALTIME when the callback saw it
    CTarnXeloDepthMarketDataField depth;
};

}  // namespace Bridge

#endif  // XELMD_TOOLS_BRIDGE_UPDATE_H

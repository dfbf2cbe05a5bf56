#ifndef XELMD_API_DEPTH_GROUP_H
#define XELMD_API_DEPTH_GROUP_H

#include "api/TarnXeloMduserApi.h"
#include "network/xelo_packet.h"

namespace Field {
struct XelMarketDataUpdateTimeField;
}

namespace Api {

// How one incremental group field (0x2431..0x2438) lands in the depth
// record: its decoder and, per member, where it sits in the decoded group
// and in CTarnXeloDepthMarketDataField (matched by member name). Tables are
// built once, then read-only: any thread.
struct DepthGroup {
    static const int MAX_MEMBERS = 8;
    static const int COUNT = 8;
    struct Copy {
        unsigned short from;  // offset in the decoded group record
        unsigned short to;    // offset in the depth record
        unsigned short size;
        bool text;  // copied up to size - 1 characters, zero-filled
    };
    unsigned short field_id;
    Network::XeloPacket::FromStream from_stream;
    int count;
    // copies holds the 8-byte numbers first, then the 4-byte ones, then the
    // rest, so that each run is a loop of fixed-size moves.
    int wide;
    int narrow;
    Copy copies[MAX_MEMBERS];
};

// Groups 0..7 (field id 0x2431 + index).
const DepthGroup* get_depth_groups();
void apply_depth_group(CTarnXeloDepthMarketDataField* record, const DepthGroup& group,
                       const void* decoded);
// InstrumentID from `instrument` (31 bytes: the cache key's text, zero
// behind it), UpdateTime (8), UpdateMillisec and ActionDay (8).
void apply_update_time(CTarnXeloDepthMarketDataField* record,
                       const Field::XelMarketDataUpdateTimeField* time, const char* instrument);

}  // namespace Api

#endif  // XELMD_API_DEPTH_GROUP_H

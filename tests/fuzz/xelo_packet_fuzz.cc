// A received packet of arbitrary bytes: the header is read from the first
// 20 bytes and refused when its content_length runs past the bytes given;
// the field area is what follows. Every field the
// catalogue knows is decoded by the generated and the generic coder, which
// must agree.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/field_desc.h"
#include "field/xelfield.h"
#include "network/xelo_packet.h"

using namespace Field;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Network::XeloPacket::Header header;
    int held = static_cast<int>(size > 65536 ? 65536 : size);
    bool fits =
        Network::XeloPacket::from_stream(&header, reinterpret_cast<const char*>(data), held);
    if (fits != (held >= Network::XeloPacket::HEADER_SIZE &&
                 header.content_length <= held - Network::XeloPacket::HEADER_SIZE))
        abort();
    if (!fits) return 0;
    std::vector<char> area(data + Network::XeloPacket::HEADER_SIZE,
                           data + Network::XeloPacket::HEADER_SIZE + header.content_length);
    Network::XeloPacket::Iterator it(&header, area.data());
    int fields = 0;
    for (int id = it.next(); id >= 0; id = it.next()) {
        if (++fields > 65536) abort();  // every step consumes at least 4 bytes
        unsigned short length = 0;
        const char* field = static_cast<const char*>(it.get_field(length));
        if (field < area.data() || field + length > area.data() + area.size()) abort();
        for (const FieldStreamCoders& coders : g_xel_field_list) {
            if (coders.desc->field_id != id) continue;
            for (bool keep : {false, true}) {
                std::vector<char> a(coders.desc->struct_size, 1), b(a);
                int ra = it.get_field(a.data(), coders.from_stream, keep);
                if (ra != it.get_field(b.data(), coders.desc, keep) || a != b) abort();
            }
        }
    }
    return 0;
}

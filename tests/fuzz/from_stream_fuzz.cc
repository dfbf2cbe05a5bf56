// Record and descriptor readers over arbitrary bytes and lengths. The first
// byte picks a record type of the catalogue, the rest is its stream. A
// descriptor read from the same bytes, when accepted, must drive every coder
// within its own record and stream.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/field_desc.h"
#include "field/xelfield.h"
#include "network/xmp_packet.h"

using namespace Field;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const FieldStreamCoders& coders = g_xel_field_list[data[0] % XEL_FIELD_COUNT];
    const Base::FieldDesc* desc = coders.desc;
    std::vector<char> in(data + 1, data + size);  // exact size: overreads trap
    const int length = static_cast<int>(in.size());

    // The record readers.
    std::vector<char> a(desc->struct_size, 7), b(desc->struct_size, 7), c(desc->struct_size, 7);
    int ra = coders.from_stream(a.data(), in.data(), length, false);
    int rb = Network::XmpPacket::from_stream(desc, b.data(), in.data(), length, false);
    if (ra != rb || a != b) abort();
    desc->from_stream(c.data(), in.data(), length);
    std::vector<char> d(desc->struct_size, 0);
    if (desc->from_var_stream(d.data(), in.data(), length) > length) abort();
    std::vector<char> out(static_cast<size_t>(desc->stream_size));
    coders.to_stream(a.data(), out.data(), length);
    desc->to_stream(c.data(), out.data(), length);

    // The descriptor reader.
    std::unique_ptr<Base::FieldDesc> read(new Base::FieldDesc(0, ""));
    int used = read->from_var_stream(in.data(), length);
    if (used > length) abort();
    if (used < 0) return 0;
    std::vector<char> record(read->struct_size + 1u, 3), stream(read->stream_size + 1u, 4);
    read->from_stream(record.data(), in.data(), std::min<int>(length, read->stream_size));
    read->to_stream(record.data(), stream.data(), read->struct_size);
    Network::XmpPacket::from_stream(read.get(), record.data(), stream.data(), read->stream_size,
                                    false);
    read->print_field(nullptr, record.data(), true, false, true, nullptr);
    std::vector<char> again(used + 16u);
    if (read->to_var_stream(again.data(), static_cast<int>(again.size())) < 0) abort();
    return 0;
}

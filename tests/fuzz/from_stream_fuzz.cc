// Record and descriptor readers over arbitrary bytes and lengths. The first
// byte picks a record type of the catalogue, the rest is its stream. A
// descriptor read from the same bytes, when accepted, must drive every coder
// within its own record and stream.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/field_desc.h"
#include "field/xelfield.h"
#include "network/xmp_packet.h"

using namespace Field;

namespace {

void check_record_readers(const FieldStreamCoders& coders, const std::vector<char>& in) {
    const Base::FieldDesc* desc = coders.desc;
    int length = static_cast<int>(in.size());
    std::vector<char> a(desc->struct_size, 7), b(desc->struct_size, 7), c(desc->struct_size, 7);
    int ra = coders.from_stream(a.data(), in.data(), length, false);
    int rb = Network::XmpPacket::from_stream(desc, b.data(), in.data(), length, false);
    if (ra != rb || a != b) abort();
    desc->from_stream(c.data(), in.data(), length);
    std::vector<char> d(desc->struct_size, 0);
    int used = desc->from_var_stream(d.data(), in.data(), length);
    if (used > length) abort();
    std::vector<char> out(static_cast<size_t>(desc->stream_size));
    coders.to_stream(a.data(), out.data(), length);
    desc->to_stream(c.data(), out.data(), length);
}

void check_descriptor_reader(const std::vector<char>& in) {
    Base::FieldDesc* desc = new Base::FieldDesc(0, "");
    int used = desc->from_var_stream(in.data(), static_cast<int>(in.size()));
    if (used > static_cast<int>(in.size())) abort();
    if (used >= 0) {
        std::vector<char> record(desc->struct_size + 1u, 3);
        std::vector<char> stream(desc->stream_size + 1u, 4);
        desc->from_stream(record.data(), in.data(),
                          static_cast<int>(in.size()) < desc->stream_size
                              ? static_cast<int>(in.size())
                              : desc->stream_size);
        desc->to_stream(record.data(), stream.data(), desc->struct_size);
        Network::XmpPacket::from_stream(desc, record.data(), stream.data(), desc->stream_size,
                                        false);
        desc->print_field(nullptr, record.data(), true, false, true, nullptr);
        std::vector<char> again(used + 16u);
        if (desc->to_var_stream(again.data(), static_cast<int>(again.size())) < 0) abort();
    }
    delete desc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const FieldStreamCoders& coders = g_xel_field_list[data[0] % XEL_FIELD_COUNT];
    std::vector<char> in(data + 1, data + size);  // exact size: overreads trap
    check_record_readers(coders, in);
    check_descriptor_reader(in);
    return 0;
}

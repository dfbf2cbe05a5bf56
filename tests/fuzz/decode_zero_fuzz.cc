// Zero-run expansion of arbitrary bytes into an exactly sized buffer: it
// must never write past the capacity or read past the input, and whatever
// it accepts must survive encoding and expanding again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "network/crp_packet.h"

using Network::CrpPacket;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    int capacity = (data[0] << 8 | data[1]) % 9000;
    std::vector<uint8_t> input(data + 2, data + size);  // exact size: overreads trap
    std::vector<uint8_t> out(static_cast<size_t>(capacity));
    int length = capacity;
    int rc =
        CrpPacket::decode_zero(out.data(), length, input.data(), static_cast<int>(input.size()));
    if (rc != 0 ? length != capacity : (length < 0 || length > capacity)) abort();
    if (rc != 0) return 0;
    std::vector<uint8_t> packed(static_cast<size_t>(length) * 2 + 1), again(length);
    int packed_length = static_cast<int>(packed.size()), again_length = length;
    if (CrpPacket::encode_zero(packed.data(), packed_length, out.data(), length) != 0 ||
        CrpPacket::decode_zero(again.data(), again_length, packed.data(), packed_length) != 0 ||
        again_length != length || (length > 0 && memcmp(again.data(), out.data(), length) != 0))
        abort();
    return 0;
}

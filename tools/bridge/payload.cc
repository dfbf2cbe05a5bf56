#include "tools/bridge/payload.h"

#include <cstring>

namespace Bridge {

namespace {

void put_le(std::string& out, size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

}  // namespace

bool Payload::encode(const Update& update, std::string& out) {
    out.clear();
    if (format_ == PayloadFormat::JSON) {
        Record::DepthRow row;
        row.topic = update.topic;
        row.sequence = static_cast<int>(update.seq);
        memcpy(&row.depth, &update.depth, sizeof row.depth);
        if (!text_.append(Record::Format::JSON, row, out)) return false;
        if (!out.empty() && out.back() == '\n') out.pop_back();
        return true;
    }
    const size_t record = sizeof update.depth;
    out.assign(HEADER_SIZE, '\0');
    out[0] = 'X';
    out[1] = 'B';
    out[2] = static_cast<char>(VERSION);
    out[3] = static_cast<char>(HEADER_SIZE);
    put_le(out, 4, record, 4);
    put_le(out, 8, static_cast<uint32_t>(update.topic), 4);
    put_le(out, 12, static_cast<uint32_t>(update.index), 4);
    put_le(out, 16, static_cast<uint64_t>(update.seq), 8);
    put_le(out, 24, static_cast<uint64_t>(update.received_ns), 8);
    out.append(reinterpret_cast<const char*>(&update.depth), record);
    return true;
}

}  // namespace Bridge

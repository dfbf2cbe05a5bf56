#ifndef XELMD_TOOLS_BRIDGE_PAYLOAD_H
#define XELMD_TOOLS_BRIDGE_PAYLOAD_H

#include <string>

#include "tools/bridge/options.h"
#include "tools/bridge/update.h"
#include "tools/record/depth_text.h"

namespace Bridge {

// Message bodies. json: the recorder's JSON-line object without its line
// feed. binary: a 32-byte little-endian header, then the record's bytes:
//   0 'X' 'B' | 2 version 1 | 3 header length 32 | 4 u32 record length |
//   8 i32 topic | 12 u32 index | 16 i64 packet sequence | 24 i64 receive ns
// One thread per object (the JSON writer keeps a scratch row).
class Payload {
  public:
    static constexpr int HEADER_SIZE = 32;
    static constexpr int VERSION = 1;

    explicit Payload(PayloadFormat format) : format_(format) {}
    // Replaces out with the body of one update; false when the record has a
    // value no text form carries.
    bool encode(const Update& update, std::string& out);

  private:
    PayloadFormat format_;
    Record::DepthText text_;
};

}  // namespace Bridge

#endif  // XELMD_TOOLS_BRIDGE_PAYLOAD_H

#ifndef XELMD_TOOLS_RECORD_REASON_TEXT_H
#define XELMD_TOOLS_RECORD_REASON_TEXT_H

namespace Record {

// The name of a disconnect reason that OnFrontDisconnected reports ("sequence
// gap" for 8197); "" for a value the library passes on unchanged. Any thread.
const char* reason_text(int reason);

}  // namespace Record

#endif  // XELMD_TOOLS_RECORD_REASON_TEXT_H

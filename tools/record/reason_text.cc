#include "tools/record/reason_text.h"

namespace Record {

namespace {

struct ReasonName {
    int reason;
    const char* name;
};

const ReasonName REASONS[] = {
    {0x1001, "connection lost"},
    {0x1002, "send failed"},
    {0x2001, "heartbeat timeout"},
    {0x2002, "encryption failed"},
    {0x2003, "bad key or decryption failed"},
    {0x2004, "unsubscribed topic"},
    {0x2005, "sequence gap"},
    {0x2006, "bad frame"},
    {0x2007, "filtered"},
    {0x2008, "no login record"},
    {-15, "buffer blocking ended"},
};

}  // namespace

const char* reason_text(int reason) {
    for (const ReasonName& r : REASONS)
        if (r.reason == reason) return r.name;
    return "";
}

}  // namespace Record

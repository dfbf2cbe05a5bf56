// Names and one-line meanings of the numbers the programs print: the
// interface's result codes and the reasons a connection was closed for.
// Header-only: the programs that link only the public shared library use
// it as well as those built on the library's internals.
#ifndef XELMD_TOOLS_COMMON_REASON_TEXT_H
#define XELMD_TOOLS_COMMON_REASON_TEXT_H

#include <string>

namespace ToolCommon {

struct CodeText {
    int code;
    const char* name;
    const char* meaning;
};

// What the operations of the interface return.
inline const CodeText* find_result(int code) {
    static const CodeText table[] = {
        {0, "ok", "done"},
        {-1, "not logged in", "a request other than the login before a successful login"},
        {-2, "too many unanswered",
         "32 requests await an answer (a stall lets one through after 10 s)"},
        {-3, "rate limit", "more than 64 requests in one second"},
        {-4, "log not opened", "a request or response log file cannot be opened"},
        {-5, "already", "Init already run (Init), or already logged in (ReqUserLogin)"},
        {-6, "blank product", "ReqUserLogin without UserProductInfo (or a null record)"},
        {-8, "table full", "64 fronts, 16 name servers or 64 topics already registered"},
        {-9, "not started", "Release before a successful Init"},
        {-10, "after Init", "a registration or setting refused because Init has run"},
        {-12, "not connected", "ReqUserLogin while no connection is up"},
        {-13, "other participant",
         "ReqUserPasswordUpdate for another participant than the logged-in one"},
        {-14, "other user", "ReqUserPasswordUpdate for another user than the logged-in one"},
        {-15, "released", "a second Release, or any request after Release"},
        {-16, "on network thread",
         "Join called from a callback (the network thread would wait on itself)"},
        {-100, "not available", "the request's packet could not be built; nothing was sent"},
    };
    for (const CodeText& t : table)
        if (t.code == code) return &t;
    return nullptr;
}

// The number a disconnection reports.
inline const CodeText* find_reason(int reason) {
    static const CodeText table[] = {
        {0x1001, "connection lost",
         "the front closed the connection, or a receive failed or brought a malformed frame"},
        {0x1002, "send failed", "a send on the connection failed"},
        {0x2001, "heartbeat timeout", "nothing received for the heartbeat timeout"},
        {0x2002, "encryption failed", "a frame could not be enciphered"},
        {0x2003, "bad key or decryption failed",
         "the key-exchange reply was unusable, or a frame did not decipher"},
        {0x2004, "unsubscribed topic", "the front sent a packet for a topic not subscribed"},
        {0x2005, "sequence gap", "a packet did not continue its topic's sequence"},
        {0x2006, "bad frame",
         "a frame length out of bounds or not matching its packet, or bad compression"},
        {0x2007, "filtered", "a subscription's filter rejected a packet"},
        {0x2008, "no login record", "the login response carried no login record"},
        {-15, "buffer blocking ended",
         "the client fell behind and the connection was reset to catch up"},
    };
    for (const CodeText& t : table)
        if (t.code == reason) return &t;
    return nullptr;
}

// "8197 sequence gap"; a number without a name stands alone.
inline std::string number_and_name(int code, const CodeText* text) {
    std::string out = std::to_string(code);
    if (text != nullptr) out += std::string(" ") + text->name;
    return out;
}

inline std::string describe_result(int code) {
    return number_and_name(code, find_result(code));
}

inline std::string describe_reason(int reason) {
    return number_and_name(reason, find_reason(reason));
}

}  // namespace ToolCommon

#endif  // XELMD_TOOLS_COMMON_REASON_TEXT_H

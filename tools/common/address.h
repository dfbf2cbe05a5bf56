// The one check of the addresses the programs take: a front as clients
// register it ("tcp://A.B.C.D:PORT", port 1 to 65535) or a local address to
// listen on ("A.B.C.D:PORT", port 0 taking a free one). The library reaches
// hosts by IPv4 address only, so names are refused here rather than failing
// later at every connection attempt. Header-only; any thread.
#ifndef XELMD_TOOLS_COMMON_ADDRESS_H
#define XELMD_TOOLS_COMMON_ADDRESS_H

#include <arpa/inet.h>

#include <string>

namespace ToolCommon {

struct Address {
    std::string host;
    int port = 0;
};

enum class AddressForm {
    FRONT,   // tcp://A.B.C.D:PORT, port 1..65535
    LISTEN,  // A.B.C.D:PORT, port 0..65535
};

// Digits only (no sign, no blanks), at most five of them.
inline bool parse_port(const std::string& text, int low, int& port) {
    if (text.empty() || text.size() > 5) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < low || value > 65535) return false;
    port = value;
    return true;
}

// False with a message naming the text, the expected form and the fault.
inline bool parse_address(const std::string& text, AddressForm form, Address& out,
                          std::string& error) {
    const bool front = form == AddressForm::FRONT;
    const std::string scheme = "tcp://";
    std::string rest = text;
    std::string why;
    if (front && text.compare(0, scheme.size(), scheme) != 0) {
        why = "it must begin with tcp://";
    } else {
        if (front) rest = text.substr(scheme.size());
        size_t colon = rest.rfind(':');
        in_addr ip;
        if (colon == std::string::npos)
            why = "no \":PORT\" after the host";
        else if (inet_pton(AF_INET, rest.substr(0, colon).c_str(), &ip) != 1)
            why = "\"" + rest.substr(0, colon) + "\" is not an IPv4 address";
        else if (!parse_port(rest.substr(colon + 1), front ? 1 : 0, out.port))
            why = "port \"" + rest.substr(colon + 1) + "\" is not a number from " +
                  (front ? "1" : "0") + " to 65535";
        else
            out.host = rest.substr(0, colon);
    }
    if (why.empty()) return true;
    error = "bad address \"" + text + "\" (expected " +
            (front ? "tcp://A.B.C.D:PORT" : "A.B.C.D:PORT") + "): " + why;
    return false;
}

inline bool valid_front_address(const std::string& text, std::string& error) {
    Address unused;
    return parse_address(text, AddressForm::FRONT, unused, error);
}

}  // namespace ToolCommon

#endif  // XELMD_TOOLS_COMMON_ADDRESS_H

// The command-line walk the subscribing programs share: --help/-h and
// --quiet as flags, every other option followed by its value, handed to
// the program's own apply. Header-only.
#ifndef XELMD_TOOLS_COMMON_COMMAND_LINE_H
#define XELMD_TOOLS_COMMON_COMMAND_LINE_H

#include <cstdlib>
#include <string>

namespace ToolCommon {

// A decimal number in [low, high] and nothing else: no sign, no blank.
inline bool parse_long(const std::string& text, long low, long high, long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    char* end = nullptr;
    long v = strtol(text.c_str(), &end, 10);
    if (*end != '\0' || v < low || v > high) return false;
    value = v;
    return true;
}

inline bool parse_int(const std::string& text, long low, long high, int& value) {
    long v = 0;
    if (!parse_long(text, low, high, v)) return false;
    value = static_cast<int>(v);
    return true;
}

// "ID" or "ID:beginning" / "ID:now", ID from 0 to 32767.
inline bool parse_topic(const std::string& text, int& id, bool& from_now) {
    size_t colon = text.find(':');
    std::string mode = colon == std::string::npos ? "beginning" : text.substr(colon + 1);
    if (!parse_int(text.substr(0, colon), 0, 32767, id)) return false;
    if (mode != "beginning" && mode != "now") return false;
    from_now = mode == "now";
    return true;
}

// apply(arg, value, error) takes one option's value, or sets error and
// returns false. Stops at --help (help set, true) or at the first error.
template <class TakesValue, class Apply>
bool scan_options(int argc, char** argv, TakesValue takes_value, bool& help, bool& quiet,
                  Apply apply, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        }
        if (arg == "--quiet") {
            quiet = true;
            continue;
        }
        if (!takes_value(arg)) {
            error = "unknown option " + arg + " (see --help)";
            return false;
        }
        if (i + 1 >= argc) {
            error = "missing value after " + arg + " (see --help)";
            return false;
        }
        std::string value = argv[++i];
        if (!apply(arg, value, error)) return false;
    }
    return true;
}

}  // namespace ToolCommon

#endif  // XELMD_TOOLS_COMMON_COMMAND_LINE_H

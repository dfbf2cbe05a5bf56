// The command-line walk the subscribing programs share: --help/-h and
// --quiet as flags, every other option followed by its value, handed to
// the program's own apply. Header-only.
#ifndef XELMD_TOOLS_COMMON_COMMAND_LINE_H
#define XELMD_TOOLS_COMMON_COMMAND_LINE_H

#include <string>

namespace ToolCommon {

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

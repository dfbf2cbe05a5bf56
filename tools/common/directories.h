// Making a directory path, parents included, for the programs that keep
// files. Header-only.
#ifndef XELMD_TOOLS_COMMON_DIRECTORIES_H
#define XELMD_TOOLS_COMMON_DIRECTORIES_H

#include <errno.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

namespace ToolCommon {

// Each missing component is made (mode 0755); false with error set at the
// first that cannot be.
inline bool make_dirs(const std::string& dir, std::string& error) {
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i < dir.size() && dir[i] != '/') continue;
        std::string prefix = dir.substr(0, i);
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "cannot create directory " + prefix + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace ToolCommon

#endif  // XELMD_TOOLS_COMMON_DIRECTORIES_H

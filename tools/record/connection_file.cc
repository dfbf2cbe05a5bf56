#include "tools/record/connection_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Record {

std::string ConnectionFile::path(const std::string& flow_dir) {
    return (flow_dir.empty() ? std::string(".") : flow_dir) + "/md.con";
}

std::string ConnectionFile::format(int trading_day, int data_center,
                                   const std::map<int, long>& positions) {
    char line[64];
    snprintf(line, sizeof line, "%8d,%3d\n", trading_day, data_center);
    std::string text = line;
    for (const auto& p : positions) {
        snprintf(line, sizeof line, "%5d,%10u\n", p.first, static_cast<unsigned>(p.second));
        text += line;
    }
    return text;
}

bool ConnectionFile::read_head(const std::string& path, int& trading_day, int& data_center) {
    FILE* f = fopen(path.c_str(), "rbe");
    if (f == nullptr) return false;
    char line[1024] = {0};
    bool ok = fgets(line, sizeof line, f) != nullptr &&
              sscanf(line, "%8d,%3d", &trading_day, &data_center) == 2;
    fclose(f);
    return ok;
}

bool ConnectionFile::write(const std::string& path, const std::string& text, std::string& error) {
    std::string temporary = path + ".tmp";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + temporary + ": " + strerror(errno);
        return false;
    }
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
              fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        error = "cannot write " + path + ": " + strerror(errno);
        unlink(temporary.c_str());
    }
    return ok;
}

}  // namespace Record

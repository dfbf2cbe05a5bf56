#include "tools/bridge/subject.h"

namespace Bridge {

std::string Subject::map_instrument(const char* id, size_t size) {
    static const char HEX[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size && id[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(id[i]);
        bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-';
        if (kept) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += HEX[c >> 4];
            out += HEX[c & 15];
        }
    }
    return out.empty() ? "%" : out;
}

std::string Subject::data(const std::string& prefix, int topic, const char* id, size_t size) {
    return prefix + "." + std::to_string(topic) + "." + map_instrument(id, size);
}

std::string Subject::commit(const std::string& prefix, int topic) {
    return prefix + ".commit." + std::to_string(topic);
}

std::string Subject::data_id(int topic, long seq, int index) {
    return std::to_string(topic) + ":" + std::to_string(seq) + ":" + std::to_string(index);
}

std::string Subject::commit_id(int topic, long seq) {
    return std::to_string(topic) + ":" + std::to_string(seq) + ":commit";
}

}  // namespace Bridge

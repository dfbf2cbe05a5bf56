#include "tools/bridge/subject.h"

#include <charconv>

namespace Bridge {

namespace {

void append_mapped(const char* id, size_t size, std::string& out) {
    static const char HEX[] = "0123456789ABCDEF";
    const size_t start = out.size();
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
    if (out.size() == start) out += '%';
}

void append_number(long value, std::string& out) {
    char text[24];
    out.append(text,
               static_cast<size_t>(std::to_chars(text, text + sizeof text, value).ptr - text));
}

}  // namespace

std::string Subject::map_instrument(const char* id, size_t size) {
    std::string out;
    append_mapped(id, size, out);
    return out;
}

// This runs once for every update published.
void Subject::data(std::string& out, const std::string& prefix, int topic, const char* id,
                   size_t size) {
    out.clear();
    out.reserve(prefix.size() + 16 + 3 * size);
    out += prefix;
    out += '.';
    append_number(topic, out);
    out += '.';
    append_mapped(id, size, out);
}

std::string Subject::commit(const std::string& prefix, int topic) {
    return prefix + ".commit." + std::to_string(topic);
}

void Subject::data_id(std::string& out, int topic, long seq, int index) {
    out.clear();
    append_number(topic, out);
    out += ':';
    append_number(seq, out);
    out += ':';
    append_number(index, out);
}

std::string Subject::commit_id(int topic, long seq) {
    return std::to_string(topic) + ":" + std::to_string(seq) + ":commit";
}

}  // namespace Bridge

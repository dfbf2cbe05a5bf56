#include "base/uri.h"

#include <stdlib.h>
#include <string.h>

namespace Base {

Uri::Uri(const char* text) : scheme_(nullptr), host_(nullptr), port_(0), path_(nullptr) {
    memset(text_, 0, sizeof(text_));
    memset(work_, 0, sizeof(work_));
    parse(text);
}

void Uri::parse(const char* text) {
    scheme_ = nullptr;
    host_ = nullptr;
    path_ = nullptr;
    port_ = 0;
    memset(text_, 0, sizeof(text_));
    memset(work_, 0, sizeof(work_));
    if (text == nullptr || text[0] == '\0') return;
    strncpy(text_, text, MAX_TEXT - 1);
    memcpy(work_, text_, MAX_TEXT);
    scheme_ = work_;
    char* colon = strchr(work_, ':');
    if (colon == nullptr) return;
    *colon = '\0';
    if (colon[1] != '/' || colon[2] != '/') return;
    parse_authority(colon + 3);
}

void Uri::parse_authority(char* start) {
    host_ = start;
    char* p = start;
    while (*p != '\0' && *p != ':' && *p != '/') ++p;
    if (*p == '\0') return;
    if (*p == '/') {
        *p = '\0';
        path_ = p + 1;
        return;
    }
    *p = '\0';
    char* port_text = p + 1;
    char* slash = strchr(port_text, '/');
    if (slash != nullptr) {
        *slash = '\0';
        path_ = slash + 1;
    }
    port_ = static_cast<int>(strtol(port_text, nullptr, 10));
}

}  // namespace Base

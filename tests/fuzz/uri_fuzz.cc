// Address text from the application: parsing must stay inside the object
// and every part it hands out must lie within the working copy.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "base/socket.h"
#include "base/uri.h"

namespace {

void check_inside(const Base::Uri& uri, const char* part) {
    if (part == nullptr) return;
    const char* begin = reinterpret_cast<const char*>(&uri);
    const char* end = begin + sizeof(uri);
    if (part < begin || part >= end || strlen(part) >= static_cast<size_t>(Base::Uri::MAX_TEXT))
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    Base::Uri uri(text.c_str());
    check_inside(uri, uri.get_scheme());
    check_inside(uri, uri.get_host());
    check_inside(uri, uri.get_path());
    if (strlen(uri.get_text()) >= static_cast<size_t>(Base::Uri::MAX_TEXT)) abort();
    uri.parse(text.c_str());

    int port = 0;
    char* host = Base::Socket::get_address_port(&text[0], port);
    if (host != nullptr && host != text.c_str()) abort();
    return 0;
}

// The two static entry points of the exported interface.
#include <cstdlib>
#include <cstring>

#include "api/TarnXeloMduserApi.h"
#include "api/md_api.h"

namespace {

const char VERSION_TEXT[] = "TARN XelMdApi V2.00 202508.1835";

// Decimal value of the n characters at text + offset.
int decimal(const char* text, size_t offset, size_t n) {
    char digits[16] = {0};
    memcpy(digits, text + offset, n);
    return static_cast<int>(strtol(digits, nullptr, 10));
}

}  // namespace

CTarnXeloMduserApi* CTarnXeloMduserApi::CreateXeloMduserApi(const char* flow_path) {
    return new Api::MdApi(flow_path, nullptr);
}

const char* CTarnXeloMduserApi::GetVersion(int& nMajorVersion, int& nMinorVersion) {
    // The build stamp is the last word: "yyyymm.hhmm".
    const char* stamp = strrchr(VERSION_TEXT, ' ') + 1;
    nMajorVersion = decimal(stamp, 0, 6);
    nMinorVersion = decimal(stamp, 7, 2) * 100 + decimal(stamp, 9, 2);
    return VERSION_TEXT;
}

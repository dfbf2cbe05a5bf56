// Units of arbitrary content through the API's dispatcher: a well-formed
// transport prefix and packet header around fields of chosen ids and
// arbitrary lengths and bytes (or, for a first byte below 32, the input
// itself as the unit). Callbacks read every byte of the records they get.
//
// Structured input: mode, tid index, series, chain, extension length, cut,
// then per field: id index, length, that many bytes.
#include <cstdint>
#include <cstring>
#include <utility>

#include "api/md_api.h"
#include "base/byte_order.h"

// The public callback class has no virtual destructor (its slot layout is
// fixed); the callback classes here are never deleted through it.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

// The login response and the key-exchange reply run too: without a reactor
// or session their follow-up steps (login, cipher, close) are skipped.
const unsigned TIDS[] = {0x0001, 0x1002, 0x1004, 0x1010, 0x1F02, 0x4202,
                         0x5201, 0x5803, 0x5901, 0x5902, 0x6092, 0x7777};
const unsigned short FIELD_IDS[] = {0x0001, 0x0003, 0x000B, 0x000D, 0x0032, 0x2408,
                                    0x2431, 0x2432, 0x2433, 0x2434, 0x2435, 0x2436,
                                    0x2437, 0x2438, 0x2439, 0x3201, 0x800A, 0x8017};
const unsigned short SERIES[] = {0, 1, 3, 4, 7, 9, 100, 1001};

unsigned g_sink = 0;

// Reads every byte of each record (null only where a callback allows it).
template <typename... T>
void touch(const T*... records) {
    for (auto [p, n] : {std::pair<const void*, size_t>(records, sizeof(T))...})
        for (size_t i = 0; i < n; ++i) g_sink += static_cast<const unsigned char*>(p)[i];
}

using Info = CTarnXeloRspInfoField;
using Topic = CTarnXeloDisseminationField;

class TouchingSpi : public CTarnXeloMduserSpi {
  public:
    void OnRspError(Info* i, int, bool) override { touch(i); }
    void OnRspUserLogin(CTarnXeloRspUserLoginField* r, Info* i, int, bool) override { touch(r, i); }
    void OnRspUserLogout(CTarnXeloRspUserLogoutField* r, Info* i, int, bool) override {
        touch(r, i);
    }
    void OnRspUserPasswordUpdate(CTarnXeloUserPasswordUpdateField* r, Info* i, int, bool) override {
        touch(r, i);
    }
    void OnRspSubscribeTopic(Topic* r, Info* i, int, bool) override { touch(r, i); }
    void OnRspQryTopic(Topic* r, Info* i, int, bool) override {
        if (r) touch(r);
        if (i) touch(i);
    }
    void OnRtnFlowMessageCancel(CTarnXeloFlowMessageCancelField* r) override { touch(r); }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* r) override { touch(r); }
};

Api::MdApi* make_api() {
    static TouchingSpi spi;
    Api::MdApi* api = new Api::MdApi("", nullptr);
    api->RegisterSpi(&spi);
    api->create_market_data_cache();
    api->OpenResponseLog("/dev/null");
    return api;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Api::MdApi* api = make_api();
    static char unit[65536];
    if (size == 0) return 0;
    if (data[0] < 32) {
        size_t n = size - 1 > 65535 ? 65535 : size - 1;
        memcpy(unit, data + 1, n);
        api->on_write(0, unit, static_cast<unsigned short>(n));
        return 0;
    }
    if (size < 6) return 0;
    unsigned tid = TIDS[data[1] % (sizeof TIDS / sizeof TIDS[0])];
    unsigned series = SERIES[data[2] % (sizeof SERIES / sizeof SERIES[0])];
    char chain = (data[3] & 1) ? 'L' : 'C';
    int ext = data[4] % 4;
    unsigned cut = data[5];
    char* packet = unit + 6 + ext;
    char* area = packet + 20;
    int length = 0;
    for (size_t at = 6; at + 2 <= size && length + 4 + 255 <= 4000;) {
        unsigned short id = FIELD_IDS[data[at] % (sizeof FIELD_IDS / sizeof FIELD_IDS[0])];
        unsigned n = data[at + 1];
        at += 2;
        Base::store_be16(area + length, id);
        Base::store_be16(area + length + 2, static_cast<uint16_t>(n));
        size_t take = size - at < n ? size - at : n;
        memcpy(area + length + 4, data + at, take);
        memset(area + length + 4 + take, 0, n - take);
        at += take;
        length += 4 + static_cast<int>(n);
    }
    // A content length shorter than the fields cuts the last ones.
    int content = cut < 200 ? length : length - static_cast<int>(cut - 200) % (length + 1);
    unit[0] = 2;
    unit[1] = static_cast<char>(ext);
    Base::store_be16(unit + 2, static_cast<uint16_t>(ext + 2 + 20 + content));
    memset(unit + 4, 0x55, static_cast<size_t>(ext));
    unit[4 + ext] = 1;
    unit[5 + ext] = 0;
    // Version 4, sequence 1, one field, request 7.
    const char head[20] = {4, chain, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 7};
    memcpy(packet, head, 20);
    Base::store_be16(packet + 2, static_cast<uint16_t>(series));
    Base::store_be32(packet + 4, tid);
    Base::store_be16(packet + 14, static_cast<uint16_t>(content));
    api->on_write(0, unit, static_cast<unsigned short>(6 + ext + 20 + content));
    return 0;
}

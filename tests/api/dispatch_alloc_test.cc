// Once an instrument is in the cache, dispatching its snapshots and
// incremental updates takes no memory. malloc is interposed to count; the
// sanitizer builds bring their own allocator, so the count runs only in the
// plain build.
#include <gtest/gtest.h>

#include <cstdlib>

#include "api/md_api.h"
#include "tests/api/dispatch_helpers.h"

// The public callback class has no virtual destructor (its slot layout is
// fixed); the callback classes here are never deleted through it.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define XELMD_COUNT_MALLOC 0
#else
#define XELMD_COUNT_MALLOC 1
#endif

namespace {
bool g_counting = false;
unsigned long g_allocations = 0;
}  // namespace

#if XELMD_COUNT_MALLOC
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t n) {
    if (g_counting) ++g_allocations;
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
    if (g_counting) ++g_allocations;
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
    if (g_counting) ++g_allocations;
    return __libc_realloc(p, n);
}
}
#endif

namespace {

using Api::MdApi;
using Api::MdApiProbe;

// Counts callbacks without taking memory itself.
class CountingSpi final : public CTarnXeloMduserSpi {
  public:
    unsigned long packages = 0, depths = 0;
    void OnPackageStart(int, int) override { ++packages; }
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField*) override { ++depths; }
};

TEST(DispatchAllocation, KnownInstrumentsTakeNoMemoryPerPacket) {
#if !XELMD_COUNT_MALLOC
    GTEST_SKIP() << "allocation counting needs the plain allocator";
#endif
    MdApi api("", nullptr);
    CountingSpi spi;
    api.RegisterSpi(&spi);
    api.create_market_data_cache();
    const char* ids[] = {"cu2510", "ag2512", "au2512", "IF2509"};
    std::vector<std::string> units;
    std::string best;
    wire::f64(best, 1.5);
    wire::be32(best, 2);
    wire::f64(best, 2.5);
    wire::be32(best, 3);
    for (const char* id : ids) {
        CTarnXeloDepthMarketDataField r;
        memset(&r, 0, sizeof r);
        strcpy(r.InstrumentID, id);
        units.push_back(wire::unit({0x5803, 3, 1, 'L', 0}, wire::depth(r)));
        units.push_back(wire::unit(
            {0x5902, 3, 2, 'L', 0},
            wire::update_time(id, "09:30:00", 1, "20250912") + wire::field(0x2434, best)));
    }
    for (const std::string& u : units)  // the instruments become known
        api.on_write(0, u.data(), static_cast<unsigned short>(u.size()));
    g_allocations = 0;
    g_counting = true;
    for (int round = 0; round < 1000; ++round)
        for (const std::string& u : units)
            api.on_write(0, u.data(), static_cast<unsigned short>(u.size()));
    g_counting = false;
    EXPECT_EQ(g_allocations, 0u);
    EXPECT_EQ(spi.depths, 1001u * units.size());
    // The counter does count.
    g_counting = true;
    std::string* probe = new std::string(100, 'x');
    g_counting = false;
    delete probe;
    EXPECT_GT(g_allocations, 0u);
    api.destroy_market_data_cache();
}

}  // namespace

// Once an instrument is in the cache, dispatching its snapshots and
// incremental updates takes no memory. malloc is interposed to count; the
// sanitizer builds bring their own allocator, so the count runs only in the
// plain build.
#include <gtest/gtest.h>

#include <cstdlib>

#include "api/md_api.h"
#include "field/xelfield.h"
#include "network/xelo_flow.h"
#include "network/xelo_packet.h"
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
    for (const char* id : ids) {
        CTarnXeloDepthMarketDataField r = {};
        strcpy(r.InstrumentID, id);
        units.push_back(wire::unit({0x5803, 3, 1, 'L', 0}, wire::depth(r)));
        units.push_back(wire::unit({0x5902, 3, 2, 'L', 0},
                                   wire::update_time(id, "09:30:00", 1, "20250912") +
                                       wire::field(0x2434, std::string(24, '\1'))));  // best prices
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

// The timer recycles once a second; a topic streaming faster than a block a
// second must not take new memory for all it receives in between.
TEST(DispatchAllocation, FastTopicReusesItsBlocksBetweenTimerPasses) {
    MdApi api("", nullptr);
    CountingSpi spi;
    api.RegisterSpi(&spi);
    api.create_market_data_cache();
    ASSERT_EQ(api.SubscribeMarketDataTopic(7, TE_RESUME_FROM_NOW), 0);
    // As Init makes a topic flow, with the smallest blocks.
    Network::XeloFlow flow(7, 1 << 20, 1 << 20, nullptr, &api, 0, nullptr, false, false);
    MdApiProbe::topic(&api, 0).flow = &flow;
    Network::XeloFlow::Writer writer(&flow, false);
    Field::XelDepthMarketDataField record = {};
    strcpy(record.InstrumentID, "cu2510");
    const unsigned long packets = 40000;  // about 14 MiB in 1 MiB blocks
    for (unsigned long k = 0; k < packets; ++k) {
        Network::XeloPacket* p = writer.alloc_packet(0x5803, 0);
        p->add_field(&Field::XelDepthMarketDataField::DESC, &record,
                     &Field::XelDepthMarketDataField::to_stream);
        writer.commit_packet(false);
    }
    EXPECT_EQ(spi.depths, packets);
    unsigned long held = 0;
    flow.get_buffer_count(held);
    // Every block but the last few went back for reuse: at most four blocks'
    // worth of packets plus one recycling interval are held.
    const unsigned long per_block = (1u << 20) / 360;
    EXPECT_GT(flow.get_recycle_count(), 0u);
    EXPECT_LE(held, 4 * per_block + MdApi::RECYCLE_EVERY);
    MdApiProbe::topic(&api, 0).flow = nullptr;
    api.destroy_market_data_cache();
}

}  // namespace

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "base/memory.h"
#include "base/notify.h"
#include "base/sign.h"
#include "network/xelo_flow.h"
#include "network/xelo_flow_reader.h"
#include "parallel/flow_recycler.h"

namespace {

using Network::XeloFlow;
using Network::XeloPacket;

constexpr unsigned int MIB = 1048576;
#ifdef __SANITIZE_THREAD__
constexpr unsigned long PACKETS = 40000;
#else
constexpr unsigned long PACKETS = 300000;
#endif
constexpr unsigned long MAX_LAG = 5000;
constexpr unsigned short SUBJECT = 0x1234;

unsigned short body_of(unsigned long i) {
    unsigned long h = (i + 1) * 0x9E3779B97F4A7C15UL;
    return static_cast<unsigned short>((h >> 40) % 3990);
}

class Wakeup : public Base::NotifyGroup {
  public:
    void wakeup(bool) override { sign.set(); }
    void notify(Base::List*) override {}
    Base::Sign sign{0};
};

struct Follower {
    Wakeup group;
    std::unique_ptr<XeloFlow::Reader> reader;
    unsigned long seen = 0;
    unsigned long errors = 0;
};

bool check(const XeloFlow::View* v, unsigned long i) {
    if (v->header->sequence_series != SUBJECT || XeloPacket::get_sequence(v->header) != i + 1)
        return false;
    unsigned short n = body_of(i);
    if (v->header->tid != i || v->header->content_length != n + 4u) return false;
    XeloPacket::Iterator fields(v->header, v->fields);
    if (fields.next() != 7) return false;
    unsigned short len = 0;
    const char* data = static_cast<const char*>(fields.get_field(len));
    if (len != n) return false;
    for (unsigned short j = 0; j < n; j += 97)
        if (data[j] != static_cast<char>(i + j)) return false;
    return true;
}

void follow(Follower* f) {
    while (f->seen < PACKETS) {
        const XeloFlow::View* v = f->reader->read();
        if (v == nullptr) {
            f->group.sign.timed_wait(1000, true);  // bound only; writes wake us
            continue;
        }
        if (!check(v, f->seen)) ++f->errors;
        ++f->seen;
    }
}

// A writer thread builds packets of random sizes into a protocol flow over
// many 1 MiB blocks; three readers follow on their own threads, woken through
// their notify, while the flow recycler (no reactor: the writer's thread)
// releases what they have all left behind.
TEST(XeloFlowStress, ThreeReadersSeeEveryPacketOnceInOrderWithItsSequence) {
    Base::Memory memory(MIB, MIB);
    XeloFlow flow(SUBJECT, MIB, MIB, &memory, nullptr, 0, nullptr, false, false);
    Parallel::FlowRecycler recycler(nullptr, &flow, 1000, nullptr, 0);
    std::vector<std::unique_ptr<Follower>> followers;
    for (int i = 0; i < 3; ++i) {
        followers.emplace_back(new Follower);
        Follower* f = followers.back().get();
        f->reader.reset(new XeloFlow::Reader(&flow, &f->group, nullptr, &recycler));
    }
    std::vector<std::thread> threads;
    for (auto& f : followers) threads.emplace_back(follow, f.get());

    XeloFlow::Writer writer(&flow, false);
    unsigned long bytes = 0;
    for (unsigned long i = 0; i < PACKETS; ++i) {
        XeloPacket* p = writer.alloc_packet(static_cast<unsigned short>(0), 0);
        p->header.tid = static_cast<unsigned int>(i);
        unsigned short n = body_of(i);
        char* data = static_cast<char*>(p->add_field(7, n));
        for (unsigned short j = 0; j < n; j += 97) data[j] = static_cast<char>(i + j);
        writer.commit_packet(true);
        bytes += n + 30u;
        if (i % 256 == 0) {
            recycler.on_invoke();
            while (i - flow.get_recycle_count() > MAX_LAG) {
                std::this_thread::yield();
                recycler.on_invoke();
            }
        }
    }
    for (std::thread& t : threads) t.join();
    for (auto& f : followers) {
        EXPECT_EQ(PACKETS, f->seen);
        EXPECT_EQ(0u, f->errors);
    }
    unsigned long capacity = 0, used = 0;
    memory.get_size(capacity, used);
    // The lag (at most MAX_LAG packets of up to 4 KB) and a few blocks,
    // far below the bytes written.
    EXPECT_LT(capacity, 40UL * MIB);
    EXPECT_GT(bytes, 2 * capacity);
    EXPECT_GT(flow.get_recycle_count(), PACKETS / 2);
    followers.clear();
}

}  // namespace

// One writer appends while readers on other threads seek to random committed
// objects and a third thread recycles behind the slowest of them, so the
// writer keeps reusing blocks the readers have left. Run under
// ThreadSanitizer and AddressSanitizer as well as in the plain build.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "base/data_flow_iterator.h"
#include "base/data_flow_sender.h"
#include "base/data_mem.h"
#include "base/memory.h"
#include "base/vector.h"
#include "numbered_object.h"

namespace {

constexpr unsigned int MIB = 1048576;
#ifdef __SANITIZE_THREAD__
constexpr unsigned long OBJECTS = 150000;  // still some 37 blocks
#else
constexpr unsigned long OBJECTS = 600000;  // some 150 blocks
#endif
// Readers look at most LAG objects back from the end; the writer lets the
// slowest of them fall at most MAX_LAG behind.
constexpr unsigned long LAG = 20000;
constexpr unsigned long MAX_LAG = 2 * LAG;
constexpr int READERS = 2;

// Objects of 8 to 503 bytes.
const unsigned int SPREAD = 496;

unsigned short size_of(unsigned long i) {
    return NumberedObject::size_of(i, SPREAD);
}

void fill(char* p, unsigned long i) {
    NumberedObject::fill(p, i, size_of(i));
}

bool holds(const char* p, unsigned short n, unsigned long i) {
    return NumberedObject::holds(p, n, i, SPREAD);
}

// Object i found through the directory, as a seeking reader finds it.
bool found_intact(const Base::DataMem& m, unsigned long i) {
    const Base::DataMem::BlockOffset* e = m.get_block_offset(i);
    if (e == nullptr) return false;
    const Base::DataMem::Block* b = e->get_block();
    unsigned long first = b->get_first();
    if (i < first || i - first >= b->get_count()) return false;
    unsigned int start = b->start_offset(i - first), end = b->end_offset(i - first);
    return holds(b->data + start, static_cast<unsigned short>(end - start), i);
}

unsigned long chain_length(const Base::DataMem& m) {
    unsigned long n = 0;
    for (const Base::DataMem::Block* b = m.get_first_block(); b != nullptr; b = b->get_next()) ++n;
    return n;
}

// Each reader publishes the lowest object it may still look at; the recycler
// releases what lies behind the lowest of them.
struct Floors {
    std::atomic<unsigned long> at[READERS] = {};
    unsigned long min() const {
        unsigned long m = ~0UL;
        // Acquire: the reader has left everything below its floor.
        for (const auto& f : at) m = std::min(m, f.load(std::memory_order_acquire));
        return m;
    }
};

// The directory's vector on its own, with small blocks so that appends keep
// linking new blocks and bucket tables while a reader looks up elements
// below the published count.
TEST(DataMemConcurrency, VectorElementsBelowTheCountAreCompleteOnAnotherThread) {
    struct Entry {
        unsigned long a, b, c;
    };
#ifdef __SANITIZE_THREAD__
    constexpr unsigned int N = 40000;
#else
    constexpr unsigned int N = 150000;
#endif
    Base::Vector v(sizeof(Entry), 16, 1, nullptr);  // 256 elements per table
    std::atomic<bool> done{false};
    unsigned long bad = 0, looks = 0;
    std::thread reader([&] {
        std::mt19937 rng(3);
        while (!done.load(std::memory_order_relaxed)) {
            unsigned int n = v.get_count();
            if (n == 0) continue;
            unsigned int i = rng() % n;
            const Entry* e = static_cast<const Entry*>(v.get(i));
            bad += e == nullptr || e->a != i || e->b != ~static_cast<unsigned long>(i) ||
                   e->c != i * 3UL;
            ++looks;
        }
    });
    for (unsigned int i = 0; i < N; ++i) {
        Entry e{i, ~static_cast<unsigned long>(i), i * 3UL};
        v.set(i, &e);
    }
    done = true;
    reader.join();
    EXPECT_EQ(bad, 0u);
    EXPECT_GT(looks, 0u);
}

TEST(DataMemConcurrency, ReadersSeekWhileTheWriterAppendsAndReusesRecycledBlocks) {
    Base::DataMem m(MIB, MIB, 3, nullptr);
    Floors floors;
    std::atomic<bool> done{false};
    std::atomic<unsigned long> bad{0}, seeks{0}, recycled_calls{0};

    auto reader = [&](int id) {
        std::mt19937_64 rng(id + 1);
        unsigned long local_bad = 0, local_seeks = 0;
        // Relaxed: done only ends the loop; the joins order everything else.
        while (!done.load(std::memory_order_relaxed)) {
            unsigned long count = m.get_count();
            if (count == 0) continue;
            unsigned long floor = floors.at[id].load(std::memory_order_relaxed);
            if (count > LAG && count - LAG > floor) {
                floor = count - LAG;
                // Release: nothing below the new floor is read after this.
                floors.at[id].store(floor, std::memory_order_release);
            }
            unsigned long i = floor + rng() % (count - floor);
            local_bad += !found_intact(m, i);
            ++local_seeks;
        }
        bad += local_bad;
        seeks += local_seeks;
    };
    auto recycler = [&] {
        while (!done.load(std::memory_order_relaxed)) {
            recycled_calls += m.recycle(floors.min());
            std::this_thread::yield();
        }
    };
    std::vector<std::thread> threads;
    for (int r = 0; r < READERS; ++r) threads.emplace_back(reader, r);
    threads.emplace_back(recycler);

    unsigned long longest = 0;
    for (unsigned long i = 0; i < OBJECTS; ++i) {
        while (i > floors.min() + MAX_LAG) std::this_thread::yield();
        fill(static_cast<char*>(m.alloc(size_of(i))), i);
        ASSERT_EQ(m.commit(size_of(i)), i);
        if (i % 4096 == 0) longest = std::max(longest, chain_length(m));
    }
    done = true;
    for (std::thread& t : threads) t.join();
    m.recycle(floors.min());

    EXPECT_EQ(bad.load(), 0u);
    EXPECT_GT(seeks.load(), 0u);
    EXPECT_GT(recycled_calls.load(), 0u);
    // MAX_LAG objects of at most 507 bytes (under 20 MiB), the block kept
    // before them and the block being filled: far fewer blocks than the run
    // wrote, unless recycling stopped.
    EXPECT_LE(longest, 22u);
    EXPECT_GT(m.get_recycle_count(), OBJECTS / 2);
}

// A writer that batches, as a manual-commit flow does: it appends a batch
// across block boundaries and then either publishes it or truncates it away,
// which drops directory entries that the next batch writes again, while
// readers search the directory for objects below what was published.
TEST(DataMemConcurrency, ReadersSeekWhileTheWriterRollsBatchesBack) {
#ifdef __SANITIZE_THREAD__
    constexpr int ROUNDS = 40;
#else
    constexpr int ROUNDS = 80;
#endif
    Base::DataMem m(MIB, MIB, 3, nullptr);
    std::atomic<unsigned long> published{0};
    std::atomic<bool> done{false};
    std::atomic<unsigned long> bad{0}, seeks{0};
    auto reader = [&](int id) {
        std::mt19937_64 rng(id + 11);
        unsigned long local_bad = 0, local_seeks = 0;
        while (!done.load(std::memory_order_relaxed)) {
            // Acquire: the objects below it are committed and stay.
            unsigned long end = published.load(std::memory_order_acquire);
            if (end == 0) continue;
            local_bad += !found_intact(m, rng() % end);
            ++local_seeks;
        }
        bad += local_bad;
        seeks += local_seeks;
    };
    std::vector<std::thread> threads;
    for (int r = 0; r < READERS; ++r) threads.emplace_back(reader, r);

    std::mt19937_64 rng(5);
    unsigned long rolled_back = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        unsigned long end = published.load(std::memory_order_relaxed);
        // Some 1 to 2 blocks of objects.
        unsigned long batch = 4000 + rng() % 4000;
        for (unsigned long i = end; i < end + batch; ++i) {
            fill(static_cast<char*>(m.alloc(size_of(i))), i);
            m.commit(size_of(i));
        }
        if (rng() % 2) {
            ASSERT_TRUE(m.truncate(end));
            ++rolled_back;
        } else {
            // Release: the batch is complete before readers may look at it.
            published.store(end + batch, std::memory_order_release);
        }
    }
    done = true;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(bad.load(), 0u);
    EXPECT_GT(seeks.load(), 0u);
    EXPECT_GT(rolled_back, 0u);
    for (unsigned long i = 0; i < published.load(); i += 97) ASSERT_TRUE(found_intact(m, i)) << i;
}

// The same through the flow: iterators seek and read on their threads with
// reader cells, and the flow's recycler runs on a thread of its own, as a
// flow recycler on a reactor thread does.
TEST(DataMemConcurrency, FlowIteratorsSeekWhileTheRecyclerRunsOnAnotherThread) {
    constexpr unsigned long KEEP = LAG;
    Base::Memory memory(MIB, MIB);
    Base::DataFlow flow(7, MIB, MIB, &memory, nullptr, 0, nullptr, false, false);
    Base::DataFlow::Recycler recycler(&flow, KEEP);
    unsigned long* cells[READERS];
    for (auto& c : cells) c = recycler.alloc_reader();
    std::atomic<bool> done{false};
    std::atomic<unsigned long> bad{0}, reads{0};

    auto reader = [&](int id) {
        Base::DataFlow::Iterator it(&flow, nullptr, nullptr, cells[id]);
        std::mt19937_64 rng(id + 7);
        unsigned long local_bad = 0, local_reads = 0;
        while (!done.load(std::memory_order_relaxed)) {
            unsigned long end = flow.get_count();
            unsigned long cell = it.get_recycle_pos();
            unsigned long low = cell > KEEP ? cell - KEEP : 0;
            if (end <= low) continue;
            unsigned long pos = low + rng() % (end - low);
            const Base::DataFlow::Iterator::Result* r = nullptr;
            if (it.seek(pos)) r = it.next();
            local_bad += r == nullptr || !holds(r->data, r->length, pos);
            ++local_reads;
        }
        bad += local_bad;
        reads += local_reads;
    };
    std::thread recycling([&] {
        while (!done.load(std::memory_order_relaxed)) {
            recycler.invoke();
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> threads;
    for (int r = 0; r < READERS; ++r) threads.emplace_back(reader, r);

    auto lowest_cell = [&] {
        unsigned long low = ~0UL;
        // Acquire: pairs with the iterator's release of its cell.
        for (auto c : cells) low = std::min(low, __atomic_load_n(c, __ATOMIC_ACQUIRE));
        return low;
    };
    for (unsigned long i = 0; i < OBJECTS; ++i) {
        while (i > lowest_cell() + MAX_LAG) std::this_thread::yield();
        fill(static_cast<char*>(flow.alloc_object(size_of(i))), i);
        ASSERT_EQ(flow.commit_object(size_of(i), false), i);
    }
    done = true;
    for (std::thread& t : threads) t.join();
    recycling.join();

    EXPECT_EQ(bad.load(), 0u);
    EXPECT_GT(reads.load(), 0u);
    unsigned long capacity = 0, used = 0;
    memory.get_size(capacity, used);
    EXPECT_LT(capacity, 26UL * MIB);
    EXPECT_GT(flow.get_recycle_count(), OBJECTS / 2);
    for (auto c : cells) recycler.free_reader(c);
}

}  // namespace

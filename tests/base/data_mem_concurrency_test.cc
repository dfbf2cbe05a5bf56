// One writer appends while readers on other threads seek to random committed
// objects and a third thread recycles behind the slowest of them, so the
// writer keeps reusing blocks the readers have left. Run under
// ThreadSanitizer and AddressSanitizer as well as in the plain build.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "base/data_flow_iterator.h"
#include "base/data_flow_sender.h"
#include "base/memory.h"
#include "base/vector.h"

namespace {

// Objects that carry their own number: 8 bytes of it, then a pattern of it,
// at a length that follows from it. A reader that finds object i torn,
// shifted or swapped with another sees it without any shared bookkeeping.
struct NumberedObjects {
    unsigned int spread;  // object i is 8 to 8 + spread - 1 bytes long

    unsigned short size_of(unsigned long i) const {
        return static_cast<unsigned short>(8 + (i * 0x9E3779B97F4A7C15UL >> 40) % spread);
    }
    void fill(char* p, unsigned long i) const {
        memcpy(p, &i, 8);
        for (unsigned short j = 8; j < size_of(i); ++j) p[j] = static_cast<char>(i * 13 + j);
    }
    bool holds(const char* p, unsigned short n, unsigned long i) const {
        if (n != size_of(i)) return false;
        unsigned long stored;
        memcpy(&stored, p, 8);
        if (stored != i) return false;
        for (unsigned short j = 8; j < n; ++j)
            if (p[j] != static_cast<char>(i * 13 + j)) return false;
        return true;
    }
};

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
const NumberedObjects NUMBERED{496};

// Reader threads that each make their look on their own thread and call it
// until stopped: look(rng) returns -1 when there is nothing to look at yet,
// else whether what it found was intact.
class Readers {
  public:
    template <class MakeLook>
    Readers(int threads, int seed, MakeLook make_look) {
        for (int id = 0; id < threads; ++id) {
            threads_.emplace_back([this, make_look, id, seed] {
                auto look = make_look(id);
                std::mt19937_64 rng(id + seed);
                unsigned long local_bad = 0, local_looks = 0;
                // Relaxed: done only ends the loop; the joins order the rest.
                while (!done_.load(std::memory_order_relaxed)) {
                    int found = look(rng);
                    if (found < 0) continue;
                    local_bad += found == 0;
                    ++local_looks;
                }
                bad += local_bad;
                looks += local_looks;
            });
        }
    }
    ~Readers() {
        if (running()) stop();
    }
    void stop() {
        done_ = true;
        for (std::thread& t : threads_) t.join();
    }
    bool running() const { return !done_.load(std::memory_order_relaxed); }

    std::atomic<unsigned long> bad{0}, looks{0};

  private:
    std::atomic<bool> done_{false};
    std::vector<std::thread> threads_;
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
    Readers reader(1, 3, [&v](int) {
        return [&v](std::mt19937_64& rng) {
            unsigned int n = v.get_count();
            if (n == 0) return -1;
            unsigned int i = static_cast<unsigned int>(rng() % n);
            const Entry* e = static_cast<const Entry*>(v.get(i));
            return int{e != nullptr && e->a == i && e->b == ~static_cast<unsigned long>(i) &&
                       e->c == i * 3UL};
        };
    });
    for (unsigned int i = 0; i < N; ++i) {
        Entry e{i, ~static_cast<unsigned long>(i), i * 3UL};
        v.set(i, &e);
    }
    reader.stop();
    EXPECT_EQ(reader.bad.load(), 0u);
    EXPECT_GT(reader.looks.load(), 0u);
}

// A manual-commit flow whose writer appends a batch across block boundaries
// and then either publishes it or rolls it back, which drops directory
// entries that the next batch writes again. Iterators read in order or seek
// on their threads with reader cells, and the flow's recycler runs on a
// thread of its own, as a flow recycler on a reactor thread does, so the
// writer keeps reusing blocks the readers have left.
TEST(DataMemConcurrency, FlowIteratorsSeekWhileTheWriterRollsBackAndTheRecyclerRuns) {
    constexpr unsigned long KEEP = LAG;
    Base::Memory memory(MIB, MIB);
    Base::DataFlow flow(7, MIB, MIB, &memory, nullptr, 0, nullptr, false, true);
    Base::DataFlow::Recycler recycler(&flow, KEEP);
    unsigned long* cells[READERS];
    for (auto& c : cells) c = recycler.alloc_reader();
    Readers readers(READERS, 7, [&](int id) {
        auto it = std::make_shared<Base::DataFlow::Iterator>(&flow, nullptr, nullptr, cells[id]);
        auto expected = std::make_shared<unsigned long>(0);
        return [&, id, it, expected](std::mt19937_64& rng) {
            if (id == 0) {  // reads every object in order, as a subscriber does
                const Base::DataFlow::Iterator::Result* r = it->next();
                if (r == nullptr) return -1;
                unsigned long pos = (*expected)++;
                return int{it->tell() == pos + 1 && NUMBERED.holds(r->data, r->length, pos)};
            }
            unsigned long end = flow.get_count();
            unsigned long cell = it->get_recycle_pos();
            unsigned long low = cell > KEEP ? cell - KEEP : 0;
            if (end <= low) return -1;
            unsigned long pos = low + rng() % (end - low);
            const Base::DataFlow::Iterator::Result* r = it->seek(pos) ? it->next() : nullptr;
            return int{r != nullptr && NUMBERED.holds(r->data, r->length, pos)};
        };
    });
    std::thread recycling([&] {
        while (readers.running()) {
            recycler.invoke();
            std::this_thread::yield();
        }
    });

    auto lowest_cell = [&] {
        unsigned long low = ~0UL;
        // Acquire: pairs with the iterator's release of its cell.
        for (auto c : cells) low = std::min(low, __atomic_load_n(c, __ATOMIC_ACQUIRE));
        return low;
    };
    // The writer also waits for the recycling thread, so the memory held
    // follows from KEEP and MAX_LAG and not from how the threads were
    // scheduled; a recycler that stops fails the run at the deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool stalled = false;
    std::mt19937_64 rng(5);
    unsigned long end = 0, rolled_back = 0;
    while (end < OBJECTS && !stalled) {
        while (end > lowest_cell() + MAX_LAG || end > flow.get_recycle_count() + KEEP + MAX_LAG) {
            stalled = std::chrono::steady_clock::now() > deadline;
            if (stalled) break;
            std::this_thread::yield();
        }
        // Some 1 to 2 blocks of objects.
        unsigned long batch = 4000 + rng() % 4000;
        for (unsigned long i = end; i < end + batch; ++i) {
            NUMBERED.fill(static_cast<char*>(flow.alloc_object(NUMBERED.size_of(i))), i);
            ASSERT_EQ(flow.commit_object(NUMBERED.size_of(i), false), i);
        }
        if (rng() % 3 == 0) {
            flow.rollback(nullptr);
            ++rolled_back;
        } else {
            flow.commit(false);
            end += batch;
        }
    }
    readers.stop();
    recycling.join();
    EXPECT_FALSE(stalled) << "recycled " << flow.get_recycle_count();

    EXPECT_EQ(readers.bad.load(), 0u);
    EXPECT_GT(readers.looks.load(), 0u);
    EXPECT_GT(rolled_back, 0u);
    unsigned long capacity = 0, used = 0;
    memory.get_size(capacity, used);
    EXPECT_LT(capacity, 26UL * MIB);
    EXPECT_GT(flow.get_recycle_count(), OBJECTS / 2);
    for (auto c : cells) recycler.free_reader(c);
}

}  // namespace

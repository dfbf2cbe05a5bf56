// The reactor against plain standard-library hand-offs, each pair measured
// the same way in the same run:
// - wake-up latency: a cross-thread add_event (with a completion sign, which
//   is what wakes an idle loop) until the handler runs on an idle FdReactor,
//   against a std::condition_variable hand-off to a sleeping thread. The
//   figure is the median (manual time); p50/p99/max in microseconds. The
//   loop's wake path is an eventfd write that ends epoll_wait, a drain of
//   the eventfd, then a pass that runs the event; the bare primitive (a
//   thread in epoll_wait on a drained eventfd, nothing else) is measured the
//   same way as the floor any such loop stands on.
// - throughput: events per second through one FdReactor from two posting
//   threads (each wakes the loop once per 64 events), against a mutex +
//   condition-variable work queue.
// - timer lateness: a 1 ms periodic timer on an idle FdReactor for 10 s,
//   against a thread sleeping until each due time; median and worst
//   lateness in microseconds.
#include <benchmark/benchmark.h>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "base/measure.h"
#include "base/sign.h"
#include "parallel/fd_reactor.h"

namespace {

using Clock = std::chrono::steady_clock;

long long now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

const int LATENCY_SAMPLES = 2000;
// Long enough for the loop to finish its busy pass and block in epoll_wait.
const auto IDLE_GAP = std::chrono::microseconds(200);

void report_latency(benchmark::State& state, std::vector<long long>& ns) {
    std::sort(ns.begin(), ns.end());
    double p50 = ns[ns.size() / 2] / 1000.0;
    double p99 = ns[ns.size() * 99 / 100] / 1000.0;
    state.counters["p50_us"] = p50;
    state.counters["p99_us"] = p99;
    state.counters["max_us"] = ns.back() / 1000.0;
}

// Runs hand_off (which posts one piece of work after stamping the time in
// sent, waits until it ran, and returns when it ran) once per idle gap,
// LATENCY_SAMPLES times per iteration; the iteration time is the median.
template <class HandOff>
void sample_wakes(benchmark::State& state, HandOff hand_off) {
    std::vector<long long> ns;
    for (auto _ : state) {
        ns.clear();
        for (int i = 0; i < LATENCY_SAMPLES; ++i) {
            std::this_thread::sleep_for(IDLE_GAP);
            long long sent = 0;
            long long ran = hand_off(sent);
            ns.push_back(ran - sent);
        }
        std::vector<long long> sorted = ns;
        std::sort(sorted.begin(), sorted.end());
        state.SetIterationTime(sorted[sorted.size() / 2] / 1e9);
    }
    report_latency(state, ns);
}

// Stamps the time it ran at.
class Stamp : public Parallel::Handler {
  public:
    std::atomic<long long> at{0};
    int on_event(int, void*) override {
        at.store(now_ns(), std::memory_order_relaxed);
        return 0;
    }
};

Parallel::FdReactor* start_reactor() {
    Parallel::FdReactor* r = new Parallel::FdReactor(nullptr);
    r->create(true, nullptr);
    return r;
}

void stop_reactor(Parallel::FdReactor* r) {
    r->stop();
    r->wakeup(true);
    r->join();
    delete r;
}

void BM_WakeLatency(benchmark::State& state) {
    Parallel::FdReactor* reactor = start_reactor();
    Stamp stamp;
    sample_wakes(state, [&](long long& sent) {
        Base::Sign done(0);
        sent = now_ns();
        reactor->add_event(1001, nullptr, &done, &stamp, false);
        done.join();
        return stamp.at.load(std::memory_order_relaxed);
    });
    stop_reactor(reactor);
}

void BM_WakeLatency_baseline(benchmark::State& state) {
    std::mutex mutex;
    std::condition_variable posted, finished;
    bool pending = false, done = false, quit = false;
    long long ran_at = 0;
    std::thread consumer([&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            posted.wait(lock, [&] { return pending || quit; });
            if (quit) return;
            ran_at = now_ns();
            pending = false;
            done = true;
            finished.notify_one();
        }
    });
    sample_wakes(state, [&](long long& sent) {
        sent = now_ns();
        {
            std::lock_guard<std::mutex> g(mutex);
            pending = true;
        }
        posted.notify_one();
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait(lock, [&] { return done; });
        done = false;
        return ran_at;
    });
    {
        std::lock_guard<std::mutex> g(mutex);
        quit = true;
    }
    posted.notify_one();
    consumer.join();
    state.SetLabel("std::condition_variable");
}

// The primitive under the loop's wake-up: a thread blocked in epoll_wait on
// an eventfd, which it drains before running the posted work.
void BM_EpollWakeFloor(benchmark::State& state) {
    int efd = eventfd(0, EFD_NONBLOCK);
    int ep = epoll_create(8);
    epoll_event ev = {};
    ev.events = EPOLLIN;
    epoll_ctl(ep, EPOLL_CTL_ADD, efd, &ev);
    std::atomic<Base::Sign*> posted{nullptr};
    std::atomic<bool> quit{false};
    long long ran_at = 0;
    std::thread consumer([&] {
        epoll_event got[8];
        while (!quit.load(std::memory_order_acquire)) {
            if (epoll_wait(ep, got, 8, 10) <= 0) continue;
            unsigned long drained;
            if (read(efd, &drained, sizeof drained) < 0) continue;
            Base::Sign* done = posted.exchange(nullptr, std::memory_order_acq_rel);
            if (done == nullptr) continue;
            ran_at = now_ns();
            done->set();
        }
    });
    sample_wakes(state, [&](long long& sent) {
        Base::Sign done(0);
        sent = now_ns();
        posted.store(&done, std::memory_order_release);
        unsigned long one = 1;
        if (write(efd, &one, sizeof one) < 0) abort();  // a 64-bit counter never fills here
        done.join();
        return ran_at;
    });
    quit.store(true, std::memory_order_release);
    unsigned long one = 1;
    if (write(efd, &one, sizeof one) < 0) {
        // the consumer still leaves within its 10 ms wait
    }
    consumer.join();
    close(ep);
    close(efd);
    state.SetLabel("bare eventfd + epoll_wait");
}

const long BATCH = 50000;  // events per posting thread per iteration
const long WAKE_EVERY = 64;

class Count : public Parallel::Handler {
  public:
    long events = 0;  // reactor thread only
    int on_event(int, void*) override {
        ++events;
        return 0;
    }
};

// Two long-lived posting threads post one batch each per round.
template <class Post, class Flush>
void two_posters(benchmark::State& state, Post post, Flush flush) {
    std::atomic<long> round{0};
    std::atomic<int> finished{0};
    std::atomic<bool> quit{false};
    std::vector<std::thread> threads;
    for (int p = 0; p < 2; ++p) {
        threads.emplace_back([&] {
            long seen = 0;
            for (;;) {
                while (round.load() == seen && !quit.load()) std::this_thread::yield();
                if (quit.load()) return;
                seen = round.load();
                for (long i = 0; i < BATCH; ++i) post(i);
                flush();
                finished.fetch_add(1);
            }
        });
    }
    for (auto _ : state) {
        finished.store(0);
        round.fetch_add(1);
        while (finished.load() < 2) std::this_thread::yield();
    }
    quit.store(true);
    for (std::thread& t : threads) t.join();
    state.SetItemsProcessed(state.iterations() * 2 * BATCH);
}

void BM_EventThroughput(benchmark::State& state) {
    Parallel::FdReactor* reactor = start_reactor();
    Count count;
    two_posters(
        state,
        [&](long i) {
            reactor->add_event(1001, nullptr, nullptr, &count, true);
            // Events without a sign wake nobody; a poster wakes the loop
            // once per burst so that it never sleeps on queued work.
            if (i % WAKE_EVERY == 0) reactor->wakeup(true);
        },
        [&] {
            // In posting order, so every event of this poster has run.
            Base::Sign done(0);
            reactor->add_event(1002, nullptr, &done, &count, true);
            done.join();
        });
    stop_reactor(reactor);
}

// A classic work queue: a mutex, a condition variable and a deque.
class WorkQueue {
  public:
    WorkQueue() : thread_([this] { run(); }) {}
    ~WorkQueue() {
        post(nullptr, true);
        thread_.join();
    }
    void post(Base::Sign* done, bool quit = false) {
        {
            std::lock_guard<std::mutex> g(mutex_);
            items_.push_back(Item{done, quit});
        }
        ready_.notify_one();
    }
    long events = 0;

  private:
    struct Item {
        Base::Sign* done;
        bool quit;
    };
    void run() {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [&] { return !items_.empty(); });
            Item item = items_.front();
            items_.pop_front();
            lock.unlock();
            if (item.quit) return;
            ++events;
            if (item.done != nullptr) item.done->set();
        }
    }
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Item> items_;
    std::thread thread_;
};

void BM_EventThroughput_baseline(benchmark::State& state) {
    WorkQueue* queue = new WorkQueue();
    two_posters(
        state, [&](long) { queue->post(nullptr); },
        [&] {
            Base::Sign done(0);
            queue->post(&done);
            done.join();
        });
    delete queue;
    state.SetLabel("mutex+condvar queue");
}

const int TIMER_INTERVAL_US = 1000;
const double TIMER_SECONDS = 10.0;

void report_lateness(benchmark::State& state, std::vector<long long>& late_ns) {
    std::sort(late_ns.begin(), late_ns.end());
    double median = late_ns[late_ns.size() / 2] / 1000.0;
    state.counters["median_late_us"] = median;
    state.counters["worst_late_us"] = late_ns.back() / 1000.0;
    state.counters["firings"] = static_cast<double>(late_ns.size());
    state.SetIterationTime(median / 1e6);
}

// Lateness of each firing against the due time the reactor computed: the
// loop time of the previous firing plus one interval.
class Periodic : public Parallel::Handler {
  public:
    explicit Periodic(Parallel::FdReactor* r) : reactor_(r) {}
    std::vector<long long> late_ns;  // reactor thread until the timer is removed
    unsigned long due = 0;
    bool on_timer(int) override {
        unsigned long now = Base::Measure::get_clock();
        if (due != 0) late_ns.push_back(static_cast<long long>(now - due) * 100);
        due = reactor_->get_loop_time() + TIMER_INTERVAL_US * 10;
        return true;
    }

  private:
    Parallel::FdReactor* reactor_;
};

void BM_TimerLateness(benchmark::State& state) {
    Parallel::FdReactor* reactor = start_reactor();
    Periodic periodic(reactor);
    for (auto _ : state) {
        Parallel::Timer* timer = reactor->add_timer(1, TIMER_INTERVAL_US, true, &periodic, false);
        std::this_thread::sleep_for(std::chrono::duration<double>(TIMER_SECONDS));
        reactor->remove_timer(timer);
        report_lateness(state, periodic.late_ns);
    }
    stop_reactor(reactor);
}

void BM_TimerLateness_baseline(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<long long> late_ns;
        auto end = Clock::now() + std::chrono::duration<double>(TIMER_SECONDS);
        auto due = Clock::now() + std::chrono::microseconds(TIMER_INTERVAL_US);
        while (Clock::now() < end) {
            std::this_thread::sleep_until(due);
            auto fired = Clock::now();
            late_ns.push_back(
                std::chrono::duration_cast<std::chrono::nanoseconds>(fired - due).count());
            due = fired + std::chrono::microseconds(TIMER_INTERVAL_US);
        }
        report_lateness(state, late_ns);
    }
    state.SetLabel("sleep_until thread");
}

}  // namespace

BENCHMARK(BM_WakeLatency)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WakeLatency_baseline)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EpollWakeFloor)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EventThroughput)->UseRealTime()->MinTime(0.5);
BENCHMARK(BM_EventThroughput_baseline)->UseRealTime()->MinTime(0.5);
BENCHMARK(BM_TimerLateness)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimerLateness_baseline)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

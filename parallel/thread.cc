#include "parallel/thread.h"

#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "base/measure.h"

namespace Parallel {

namespace {

// The kernel id never changes for a thread, so it is asked once.
thread_local int t_current_id = 0;

const int AFFINITY_SET_SIZE = 128;
const unsigned long START_POLL_TICKS = 100;

}  // namespace

Thread::Thread(const char* name)
    : running_(false), started_(false), handle_(0), id_(0), has_mask_(false) {
    memset(name_, 0, sizeof(name_));
    if (name != nullptr) strncpy(name_, name, MAX_NAME);
    CPU_ZERO(&mask_);
}

Thread::~Thread() {}

bool Thread::create(bool wait, void* cpu_mask) {
    // The new thread binds itself, because only it knows its kernel id at
    // once; with wait this is done before create returns.
    has_mask_ = cpu_mask != nullptr;
    if (has_mask_) memcpy(&mask_, cpu_mask, sizeof(mask_));
    if (pthread_create(&handle_, nullptr, &Thread::run, this) != 0) {
        handle_ = 0;
        return false;
    }
    if (wait) {
        while (!started_.load(std::memory_order_acquire)) Base::Measure::delay(START_POLL_TICKS);
    }
    return true;
}

void* Thread::run(void* self) {
    static_cast<Thread*>(self)->start();
    return nullptr;
}

void Thread::start() {
    int id = get_current();
    id_.store(id, std::memory_order_relaxed);
    if (has_mask_) sched_setaffinity(id, AFFINITY_SET_SIZE, &mask_);
    if (name_[0] != '\0') {
        printf("thread [%s] [%d]\n", name_, id);
        fflush(stdout);
    }
    // Release: whoever sees the flag also sees the id.
    running_.store(true, std::memory_order_release);
    started_.store(true, std::memory_order_release);
    before_proc();
    thread_proc();
    after_proc();
    exit_proc();
}

void Thread::thread_proc() {
    while (keep_running()) loop_proc();
}

void Thread::exit_proc() {
    pthread_exit(nullptr);
}

void Thread::stop() {
    running_.store(false, std::memory_order_relaxed);
}

bool Thread::join() {
    if (handle_ == 0) return false;
    bool ok = pthread_join(handle_, nullptr) == 0;
    if (ok) handle_ = 0;
    return ok;
}

int Thread::get_current() {
    if (t_current_id == 0) t_current_id = static_cast<int>(syscall(SYS_gettid));
    return t_current_id;
}

long init_general_cpu_set(cpu_set_t* set, long cpu_count) {
    CPU_ZERO(set);
    if (cpu_count < 1) return 0;
    for (long i = 1; i < cpu_count - 1 && i < 1024; i += 2) CPU_SET(i, set);
    return cpu_count;
}

}  // namespace Parallel

#include "base/sign.h"

#include <errno.h>
#include <time.h>

namespace Base {

namespace {

struct timespec deadline_after(int ms) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    if (ms < 0) ms = 0;
    t.tv_sec += ms / 1000;
    t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

}  // namespace

Sign::Sign(int count) : count_(count) {
    pthread_mutex_init(&mutex_, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&cond_, &attr);
    pthread_condattr_destroy(&attr);
}

Sign::~Sign() {
    pthread_cond_destroy(&cond_);
    pthread_mutex_destroy(&mutex_);
}

void Sign::set() {
    pthread_mutex_lock(&mutex_);
    if (count_ < 1) pthread_cond_signal(&cond_);
    ++count_;
    pthread_mutex_unlock(&mutex_);
}

void Sign::join() {
    pthread_mutex_lock(&mutex_);
    while (count_ < 1) pthread_cond_wait(&cond_, &mutex_);
    --count_;
    pthread_mutex_unlock(&mutex_);
}

bool Sign::wait_until(const struct timespec& deadline) {
    while (count_ < 1) {
        int rc = pthread_cond_timedwait(&cond_, &mutex_, &deadline);
        if (rc == ETIMEDOUT && count_ < 1) return false;
    }
    return true;
}

bool Sign::timed_wait(int ms, bool reset) {
    struct timespec deadline = deadline_after(ms);
    pthread_mutex_lock(&mutex_);
    bool taken = wait_until(deadline);
    if (taken) {
        if (reset)
            count_ = 0;
        else
            --count_;
    }
    pthread_mutex_unlock(&mutex_);
    return taken;
}

bool Sign::timed_multi_wait(int ms, int count) {
    if (count < 1) return true;
    struct timespec deadline = deadline_after(ms);
    pthread_mutex_lock(&mutex_);
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        ok = wait_until(deadline);
        if (ok) --count_;
    }
    pthread_mutex_unlock(&mutex_);
    return ok;
}

void Sign::clear() {
    pthread_mutex_lock(&mutex_);
    count_ = 0;
    pthread_mutex_unlock(&mutex_);
}

}  // namespace Base

#ifndef XELMD_TESTS_BASE_FLOW_TEST_UTIL_H
#define XELMD_TESTS_BASE_FLOW_TEST_UTIL_H

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/data_flow.h"
#include "base/data_flow_iterator.h"
#include "base/notify.h"

namespace FlowTest {

constexpr unsigned int MIB = 1048576;

inline unsigned long append(Base::DataFlow& flow, const std::string& s, bool notify = false) {
    unsigned short n = static_cast<unsigned short>(s.size());
    void* p = flow.alloc_object(n);
    memcpy(p, s.data(), n);
    return flow.commit_object(n, notify);
}

// Every object the iterator yields until it finds none.
inline std::vector<std::string> read_rest(Base::DataFlow::Iterator& it) {
    std::vector<std::string> out;
    while (const Base::DataFlow::Iterator::Result* r = it.next())
        out.emplace_back(r->data, r->length);
    return out;
}

// A fresh directory under /tmp for each test, removed with what it holds.
class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/xelmd_test_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir_ = pattern;
    }
    void TearDown() override { ASSERT_EQ(0, system(("rm -rf " + dir_).c_str())); }
    std::string path(const char* name) const { return dir_ + "/" + name; }
    static std::string read_all(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void write_all(const std::string& p, const std::string& bytes) {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    std::string dir_;
};

// A notify group of its own that counts wake-ups.
class CountingGroup : public Base::NotifyGroup {
  public:
    void wakeup(bool) override { wakeups.fetch_add(1, std::memory_order_relaxed); }
    void notify(Base::List*) override {}

    std::atomic<int> wakeups{0};
};

}  // namespace FlowTest

#endif  // XELMD_TESTS_BASE_FLOW_TEST_UTIL_H

#ifndef XELMD_TESTS_PARALLEL_LINES_REPORTER_H
#define XELMD_TESTS_PARALLEL_LINES_REPORTER_H

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "parallel/reporter.h"

namespace ReactorTest {

// Keeps every line as "level tag text"; any thread.
class Lines : public Parallel::Reporter {
  public:
    void report(int level, const char* tag, const char* format, ...) override {
        char text[256];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::to_string(level) + " " + tag + " " + text);
    }
    std::vector<std::string> get() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // Lines containing text, in order.
    std::vector<std::string> with(const std::string& text) {
        std::vector<std::string> out;
        for (const std::string& line : get()) {
            if (line.find(text) != std::string::npos) out.push_back(line);
        }
        return out;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace ReactorTest

#endif  // XELMD_TESTS_PARALLEL_LINES_REPORTER_H

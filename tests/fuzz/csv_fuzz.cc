// CSV splitting and typed cell reads on arbitrary lines. The first byte picks
// quoting; the rest is the line (cut at its first NUL, as a C string is).
#include <stdint.h>
#include <string.h>

#include <vector>

#include "base/csv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    bool quote = data[0] & 1;
    std::vector<char> line(data + 1, data + size);
    line.push_back('\0');
    size_t length = strlen(line.data());

    // The buffer bound promised to callers: strlen(line) + 1 bytes.
    std::vector<char> buffer(length + 1);
    std::vector<char*> fields(8);
    int n = Base::Csv::split(line.data(), quote, fields.data(), 8, buffer.data());
    if (n > 8) __builtin_trap();
    for (int i = 0; i < n; ++i)
        if (fields[i] < buffer.data() || fields[i] >= buffer.data() + buffer.size() ||
            strlen(fields[i]) > length)
            __builtin_trap();

    Base::Csv csv(quote, 24);
    if (!csv.read_data(line.data())) return 0;
    for (int i = 0; i < csv.get_data_size(); ++i) {
        // Every typed read of every cell.
        auto read_as = [&](auto... values) { (csv.get_data(i, values), ...); };
        read_as(int64_t(), uint64_t(), int8_t(), float(), double());
        int64_t fixed;
        csv.get_data(i, fixed, TYPE_FIXEDPOINT8);
        const char* text;
        if (!csv.get_data(i, text) || strlen(text) >= 24) __builtin_trap();
    }
    return 0;
}

// Walks arbitrary bytes with the DER iterator, descending into every element.
#include <cstdint>
#include <cstring>
#include <memory>

#include "cipher/der.h"

namespace {

unsigned walk(const unsigned char* data, int size, int depth) {
    Cipher::Der::Iterator it(data, size);
    unsigned sum = 0;
    while (const Cipher::Der::Element* e = it.next()) {
        // Touch every value byte so out-of-bounds values are caught.
        for (uint32_t i = 0; i < e->length; ++i) sum += e->value[i];
        if (depth < 8 && (e->tag & 0x20) != 0)
            sum += walk(e->value, static_cast<int>(e->length), depth + 1);
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size + 1]);
    if (size > 0) std::memcpy(copy.get(), data, size);
    volatile unsigned sink = walk(copy.get(), static_cast<int>(size), 0);
    (void)sink;
    return 0;
}

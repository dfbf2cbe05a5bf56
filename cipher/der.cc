#include "cipher/der.h"

namespace Cipher {
namespace Der {

void Iterator::attach(const void* data, int length) {
    data_ = static_cast<const unsigned char*>(data);
    length_ = data_ != nullptr && length > 0 ? static_cast<uint32_t>(length) : 0;
    pos_ = 0;
    current_ = Element{0, 0, nullptr};
}

const Element* Iterator::next() {
    uint64_t p = pos_;
    if (p + 2 > length_) {
        pos_ = length_;
        return nullptr;
    }
    const uint32_t tag = data_[p++];
    const uint32_t first = data_[p++];
    uint64_t len = first;
    if (first == 0x80) {
        len = 0;
    } else if (first > 0x80) {
        const uint32_t count = first - 0x80;
        // More than four length bytes cannot describe data we could hold.
        if (count > 4 || p + count > length_) {
            pos_ = length_;
            return nullptr;
        }
        len = 0;
        for (uint32_t i = 0; i < count; ++i) len = (len << 8) | data_[p++];
    }
    if (len > length_ - p) {
        pos_ = length_;
        return nullptr;
    }
    current_ = Element{tag, static_cast<uint32_t>(len), data_ + p};
    pos_ = static_cast<uint32_t>(p + len);
    return &current_;
}

}  // namespace Der
}  // namespace Cipher

#ifndef XELMD_CIPHER_DER_H
#define XELMD_CIPHER_DER_H

#include <cstdint>

namespace Cipher {
namespace Der {

// Tags of the universal types the key and certificate readers meet.
const uint32_t TAG_INTEGER = 0x02;
const uint32_t TAG_BIT_STRING = 0x03;
const uint32_t TAG_OCTET_STRING = 0x04;
const uint32_t TAG_NULL = 0x05;
const uint32_t TAG_OID = 0x06;
const uint32_t TAG_UTC_TIME = 0x17;
const uint32_t TAG_GENERALIZED_TIME = 0x18;
const uint32_t TAG_SEQUENCE = 0x30;
const uint32_t TAG_SET = 0x31;

// One tag-length-value element; value points into the walked data.
struct Element {
    uint32_t tag;
    uint32_t length;
    const unsigned char* value;
};

// Walks the elements lying one after another in a DER byte string (to walk
// inside a constructed element, attach a second iterator to its value).
// Never reads outside the data it was given. One thread per object.
class Iterator {
  public:
    Iterator() { attach(nullptr, 0); }
    Iterator(const void* data, int length) { attach(data, length); }

    void attach(const void* data, int length);
    bool is_end() const { return pos_ >= length_; }
    // The next element, or null at the end or when its header or value would
    // run past the data (the iterator then stays at the end).
    const Element* next();

  private:
    const unsigned char* data_;
    uint32_t length_;
    uint32_t pos_;
    Element current_;
};

}  // namespace Der
}  // namespace Cipher

#endif  // XELMD_CIPHER_DER_H

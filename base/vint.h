#ifndef XELMD_BASE_VINT_H
#define XELMD_BASE_VINT_H

namespace Base {

// Variable-length integers: seven value bits per byte, least significant
// group first, bit 7 set on every byte but the last. Stateless; any thread.
class VInt {
  public:
    // Writes 1 to 10 bytes to out and returns the count.
    static int encode_vint64(unsigned long value, unsigned char* out);

    // Bytes up to and including the first one with bit 7 clear; 0 when none
    // lies within length or length is not positive.
    static int get_bytes_num(const unsigned char* in, int length);

    // Decode exactly `bytes` bytes as counted by get_bytes_num.
    static unsigned long decode_vint64(const unsigned char* in, int bytes);
};

}  // namespace Base

#endif  // XELMD_BASE_VINT_H

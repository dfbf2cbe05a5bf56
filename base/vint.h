#ifndef XELMD_BASE_VINT_H
#define XELMD_BASE_VINT_H

namespace Base {

// Variable-length integers: seven value bits per byte, bit 7 set on every
// byte but the last. "little" puts the least significant group first
// (LEB128); otherwise the groups are reversed while the continuation bits
// stay on every byte but the last. Stateless; any thread.
class VInt {
  public:
    static unsigned int encode_zigzag32(int value);
    static unsigned long encode_zigzag64(long value);
    static int decode_zigzag32(unsigned int value);
    static long decode_zigzag64(unsigned long value);

    // Writes 1 to 5 (10) bytes to out and returns the count.
    static int encode_vint32(unsigned int value, unsigned char* out, bool little);
    static int encode_vint64(unsigned long value, unsigned char* out, bool little);

    // Bytes up to and including the first one with bit 7 clear; 0 when none
    // lies within length or length is not positive.
    static int get_bytes_num(const unsigned char* in, int length);

    // Decode exactly `bytes` bytes as counted by get_bytes_num.
    static unsigned int decode_vint32(const unsigned char* in, int bytes, bool little);
    static unsigned long decode_vint64(const unsigned char* in, int bytes, bool little);
};

}  // namespace Base

#endif  // XELMD_BASE_VINT_H

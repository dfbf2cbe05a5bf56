#ifndef XELMD_TOOLS_FRONT_KEY_REPLY_H
#define XELMD_TOOLS_FRONT_KEY_REPLY_H

namespace Front {

// The session text of a key-exchange reply, from the client's key-exchange
// text ("40" X "40" Y, the coordinates of its SM2 public key) and the
// channel key the front chose. Stateless; any thread.
class KeyReply {
  public:
    enum Mode {
        NO_CIPHER = 0,  // "0": the channel stays in clear
        MASKED = 1,     // 'A' + type, the key XOR a mask of the client's text, 16 hex digits
        SM2 = 2,        // '0' + type, the key SM2-encrypted to the client's public key
        UNUSABLE = 3,   // "!": a key the client cannot use (a scripted key error)
    };
    // Room for the longest text: 1 + 2 x (8 + 97) digits and a NUL.
    static const int TEXT_SIZE = 301;

    // Writes the text into out (TEXT_SIZE bytes); false when the client's
    // text does not hold a usable public key (SM2 mode) or type is not 0..4.
    static bool build(Mode mode, int type, unsigned long key, const char* client_text, char* out);
    // The 64-bit mask of the masked mode: two CRC-32C values over the SM3
    // digest of the first 132 bytes of the client's text.
    static unsigned long mask_of(const char* client_text);
    // Splits the client's text into the two coordinates (65-byte buffers).
    static bool parse_public_key(const char* client_text, char* x, char* y);
    static const char* get_name(Mode mode);
    // "none", "masked", "sm2"; -1 otherwise.
    static int mode_from_name(const char* name);
};

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_KEY_REPLY_H

#ifndef XELMD_API_KEY_EXCHANGE_H
#define XELMD_API_KEY_EXCHANGE_H

namespace Cipher {
class Sm2;
}

namespace Api {

// The client half of the per-connection key agreement: the public-key text
// sent to the front and the channel key recovered from its reply.
// Stateless functions; the Sm2 object passed in serves one thread at a time.
class KeyExchange {
  public:
    static const int TEXT_SIZE = 301;    // kept text, zero-padded
    static const int DIGEST_TEXT = 132;  // bytes of the text the mask is made from
    static const int CLOSE_REASON = -24;

    // Fresh key pair on sm2, then "%02X" length, X, "%02X" length, Y into
    // text (TEXT_SIZE bytes, zero-padded). Returns the text length.
    static int build_text(Cipher::Sm2* sm2, char* text);

    // The reply's session text s decides the channel cipher. Returns 0 for
    // "no cipher" (a lone '0'), 1 with type and key set, or CLOSE_REASON
    // when the text cannot give a key.
    static int derive_key(Cipher::Sm2* sm2, const char* kept_text, const char* s,
                          unsigned char& type, unsigned long& key);

    // The 64-bit mask of the short key form, from the SM3 digest of the
    // first 132 bytes of the kept text.
    static unsigned long make_mask(const char* kept_text);
};

}  // namespace Api

#endif  // XELMD_API_KEY_EXCHANGE_H

#include "api/topic_key.h"

#include <cstdint>
#include <cstring>

namespace Api {

namespace {

// The key as five words: the topic and the 31 instrument bytes with a zero
// byte behind them. Every key comes from set_topic_key, zero behind its
// text, so whole words stand for the text.
struct KeyWords {
    uint64_t w[4];
    uint32_t topic;
};

inline KeyWords words_of(const void* key) {
    const TopicInstrumentKey* k = static_cast<const TopicInstrumentKey*>(key);
    KeyWords out;
    memcpy(out.w, k->instrument, sizeof k->instrument);
    reinterpret_cast<char*>(out.w)[31] = 0;
    out.topic = k->topic;
    return out;
}

}  // namespace

// Fixed words, so no length scan and no library call per lookup.
unsigned int hash_topic_instrument(const void* key) {
    KeyWords k = words_of(key);
    const uint64_t m = 0x9E3779B97F4A7C15ull;
    uint64_t h = (k.topic + 1) * m;
    for (uint64_t w : k.w) h = (h ^ w) * m;
    return static_cast<unsigned int>(h >> 32);
}

bool equal_topic_instrument(const void* a, const void* b) {
    KeyWords x = words_of(a), y = words_of(b);
    return ((x.w[0] ^ y.w[0]) | (x.w[1] ^ y.w[1]) | (x.w[2] ^ y.w[2]) | (x.w[3] ^ y.w[3]) |
            (x.topic ^ y.topic)) == 0;
}

void set_topic_key(TopicInstrumentKey* key, unsigned int topic, const char* instrument) {
    key->topic = topic;
    size_t n = strnlen(instrument, sizeof key->instrument - 1);
    memcpy(key->instrument, instrument, n);
    memset(key->instrument + n, 0, sizeof key->instrument - n);
}

}  // namespace Api

#ifndef XELMD_API_TOPIC_KEY_H
#define XELMD_API_TOPIC_KEY_H

namespace Api {

// Key of the market-data cache: a topic and an instrument id of at most 30
// characters. Plain data; the thread that owns the key.
struct TopicInstrumentKey {
    unsigned int topic;
    char instrument[31];  // NUL-terminated, zero behind the text
};

static_assert(sizeof(TopicInstrumentKey) == 36, "cache key size");

// Multiplicative hash of the topic and the instrument text.
unsigned int hash_topic_instrument(const void* key);
// Same topic and same instrument text; both keys made by set_topic_key.
bool equal_topic_instrument(const void* a, const void* b);
// Fills key with topic and the first 30 characters of instrument.
void set_topic_key(TopicInstrumentKey* key, unsigned int topic, const char* instrument);

}  // namespace Api

#endif  // XELMD_API_TOPIC_KEY_H

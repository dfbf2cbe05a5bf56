#include "api/topic_key.h"

#include <cstring>

#include "base/hash.h"

namespace Api {

unsigned int hash_topic_instrument(const void* key) {
    const TopicInstrumentKey* k = static_cast<const TopicInstrumentKey*>(key);
    unsigned int h = Base::Hash::calc(&k->topic, sizeof k->topic, 0);
    int length = static_cast<int>(strnlen(k->instrument, sizeof k->instrument));
    return Base::Hash::calc(k->instrument, length, h);
}

bool equal_topic_instrument(const void* a, const void* b) {
    const TopicInstrumentKey* x = static_cast<const TopicInstrumentKey*>(a);
    const TopicInstrumentKey* y = static_cast<const TopicInstrumentKey*>(b);
    return x->topic == y->topic && strcmp(x->instrument, y->instrument) == 0;
}

void set_topic_key(TopicInstrumentKey* key, unsigned int topic, const char* instrument) {
    key->topic = topic;
    size_t n = strnlen(instrument, sizeof key->instrument - 1);
    memcpy(key->instrument, instrument, n);
    memset(key->instrument + n, 0, sizeof key->instrument - n);
}

}  // namespace Api

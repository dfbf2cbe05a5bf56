// Json parsing of arbitrary bytes; what parses must print, and the printed
// text must parse again and print the same.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "base/json.h"

namespace {

std::vector<char> print(const Base::Json& json) {
    int n = json.output(static_cast<char*>(nullptr), 0);
    if (n < 0) __builtin_trap();
    std::vector<char> text(static_cast<size_t>(n) + 1);
    if (json.output(text.data(), 0) != n) __builtin_trap();
    text.resize(n);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1 << 20)) return 0;
    // An exact-size copy: no terminator to lean on.
    std::vector<char> input(data, data + size);
    Base::Json json;
    if (!json.parse(input.data(), static_cast<int>(input.size()))) {
        if (json.get_object_count() != 0) __builtin_trap();
        return 0;
    }
    Base::Queue::Iterator it(json.get_objects());
    while (void* item = it.next()) {
        Base::Json::Object* o = static_cast<Base::Json::Object*>(item);
        for (int j = 0; j < o->get_size(); ++j) {
            const Base::Json::Property* p = o->get_property(j);
            Base::Json::get_float(p->get_value());
            if (o->get_property(p->get_name()) == nullptr) __builtin_trap();
        }
    }
    std::vector<char> first = print(json);
    Base::Json again;
    if (!again.parse(first.data(), static_cast<int>(first.size())) || print(again) != first)
        __builtin_trap();
    return 0;
}

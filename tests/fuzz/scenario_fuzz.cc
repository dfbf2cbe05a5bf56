// Arbitrary bytes as the front's scenario file: it is read whole or refused
// with a message, and every fault read is one the front can run: a known
// action, times and sizes within their limits, and each handed to the
// connections it names.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/front/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size), error;
    Front::Scenario scenario;
    if (!scenario.parse(text, error)) {
        if (error.empty() || !scenario.get_faults().empty()) abort();
        return 0;
    }
    size_t every = 0;
    for (const Front::Scenario::Fault& f : scenario.get_faults()) {
        if (f.action < Front::Scenario::DROP || f.action > Front::Scenario::KEY_REFUSED ||
            Front::Scenario::get_name(f.action) == nullptr || f.after_ms > 86400000 ||
            f.seconds > 86400 || f.connection < 0 || f.connection > 1000000 || f.bytes < 0 ||
            f.bytes > 65536 || (f.action == Front::Scenario::GARBAGE && f.bytes < 1))
            abort();
        every += f.connection == 0;
    }
    for (int n : {1, 2, 1000000})
        if (scenario.for_connection(n).size() < every) abort();
    return 0;
}

#ifndef XELMD_TESTS_FIELD_RANDOM_RECORD_H
#define XELMD_TESTS_FIELD_RANDOM_RECORD_H

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "base/field_desc.h"

namespace FieldTest {

// A record with plausible values: strings NUL-terminated at random lengths,
// numbers random, doubles finite, fixed point null or within +-4e9 units,
// where the trip through a double and back (1e-9 away from zero, truncated)
// is exact.
inline void random_record(const Base::FieldDesc& d, std::vector<char>& record,
                          std::mt19937_64& rng) {
    record.assign(d.struct_size, 0);
    for (int i = 0; i < d.member_count; ++i) {
        const Base::FieldDesc::MemberDesc& m = d.members[i];
        char* p = record.data() + m.offset;
        if (m.type == TYPE_STRING) {
            int n = static_cast<int>(rng() % m.size);
            for (int k = 0; k < n; ++k) p[k] = static_cast<char>('!' + rng() % 90);
        } else if (Base::is_fixed_point(m.type)) {
            int64_t v = rng() % 8 == 0 ? INT64_MAX
                                       : static_cast<int64_t>(rng() % 8000000000ull) - 4000000000ll;
            memcpy(p, &v, 8);
        } else if (m.type == TYPE_FLOAT64) {
            double v = static_cast<double>(static_cast<int64_t>(rng())) / 1e6;
            memcpy(p, &v, 8);
        } else {
            uint64_t v = rng();
            memcpy(p, &v, static_cast<size_t>(m.size));
        }
    }
}

}  // namespace FieldTest

#endif  // XELMD_TESTS_FIELD_RANDOM_RECORD_H

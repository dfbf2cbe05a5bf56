#include "base/data_type.h"

#include <cstring>

namespace Base {

const char* const DATA_TYPE_NAME[TYPE_COUNT] = {
    "NULL",        "UINT8",       "UINT16",      "UINT32",      "UINT64",      "INT8",
    "INT16",       "INT32",       "INT64",       "FLOAT32",     "FLOAT64",     "CHAR",
    "STRING",      "BOOL",        "FIXEDPOINT0", "FIXEDPOINT1", "FIXEDPOINT2", "FIXEDPOINT3",
    "FIXEDPOINT4", "FIXEDPOINT5", "FIXEDPOINT6", "FIXEDPOINT7", "FIXEDPOINT8", "VINT32",
    "VINT64",      "POINTER"};

const int DATA_TYPE_SIZE[TYPE_COUNT] = {0, 1, 2, 4, 8, 1, 2, 4, 8, 4, 8, 1, 0,
                                        1, 8, 8, 8, 8, 8, 8, 8, 8, 8, 4, 8, 8};

const int FIXED_POINT_POWER[10] = {1,      10,      100,      1000,      10000,
                                   100000, 1000000, 10000000, 100000000, 1000000000};

// Written as literals so generated coders, which spell the same literals,
// use bit-identical factors.
const double FIXED_POINT_INVERSE[9] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8};

const char* const FIXED_POINT_FORMAT[10] = {"%.0lf", "%.1lf", "%.2lf", "%.3lf", "%.4lf",
                                            "%.5lf", "%.6lf", "%.7lf", "%.8lf", "%.9lf"};

int data_type_from_name(const char* name) {
    if (!name) return -1;
    for (int i = 0; i < TYPE_COUNT; ++i) {
        if (strcmp(DATA_TYPE_NAME[i], name) == 0) return i;
    }
    return -1;
}

}  // namespace Base

#ifndef XELMD_BASE_DATA_TYPE_H
#define XELMD_BASE_DATA_TYPE_H

// Member type codes of fixed-layout records and their constant tables.
// The codes travel in descriptor files, so their values never change.
enum DataType {
    TYPE_NULL = 0,
    TYPE_UINT8 = 1,
    TYPE_UINT16 = 2,
    TYPE_UINT32 = 3,
    TYPE_UINT64 = 4,
    TYPE_INT8 = 5,
    TYPE_INT16 = 6,
    TYPE_INT32 = 7,
    TYPE_INT64 = 8,
    TYPE_FLOAT32 = 9,
    TYPE_FLOAT64 = 10,
    TYPE_CHAR = 11,
    TYPE_STRING = 12,
    TYPE_BOOL = 13,
    TYPE_FIXEDPOINT0 = 14,
    TYPE_FIXEDPOINT1 = 15,
    TYPE_FIXEDPOINT2 = 16,
    TYPE_FIXEDPOINT3 = 17,
    TYPE_FIXEDPOINT4 = 18,
    TYPE_FIXEDPOINT5 = 19,
    TYPE_FIXEDPOINT6 = 20,
    TYPE_FIXEDPOINT7 = 21,
    TYPE_FIXEDPOINT8 = 22,
    TYPE_VINT32 = 23,
    TYPE_VINT64 = 24,
    TYPE_POINTER = 25,
    TYPE_COUNT = 26
};

namespace Base {

// Printed names, indexed by code ("NULL" .. "POINTER").
extern const char* const DATA_TYPE_NAME[TYPE_COUNT];
// Per-element memory size (0 for NULL and the variable STRING); hashing uses it.
extern const int DATA_TYPE_SIZE[TYPE_COUNT];
// 10^0 .. 10^9.
extern const int FIXED_POINT_POWER[10];
// 1, 0.1, ..., 1e-8: the factor from a FIXEDPOINTn integer to its value.
extern const double FIXED_POINT_INVERSE[9];
// "%.0lf" .. "%.9lf".
extern const char* const FIXED_POINT_FORMAT[10];

inline bool is_fixed_point(int type) {
    return type >= TYPE_FIXEDPOINT0 && type <= TYPE_FIXEDPOINT8;
}
// Numbers of 2, 4 or 8 bytes that travel big-endian (fixed point aside,
// which the wire carries as a double).
inline bool is_swapped_number(int type) {
    switch (type) {
        case TYPE_UINT16:
        case TYPE_UINT32:
        case TYPE_UINT64:
        case TYPE_INT16:
        case TYPE_INT32:
        case TYPE_INT64:
        case TYPE_FLOAT32:
        case TYPE_FLOAT64:
        case TYPE_VINT32:
        case TYPE_VINT64:
            return true;
        default:
            return false;
    }
}
// Decimals of a FIXEDPOINTn type.
inline int fixed_point_digits(int type) {
    return type - TYPE_FIXEDPOINT0;
}
// Code from its printed name, or -1.
int data_type_from_name(const char* name);

}  // namespace Base

#endif  // XELMD_BASE_DATA_TYPE_H

#ifndef XELMD_TESTS_BASE_NUMBERED_OBJECT_H
#define XELMD_TESTS_BASE_NUMBERED_OBJECT_H

#include <cstring>

// Objects that carry their own number: 8 bytes of it, then a pattern of it,
// at a length that follows from it. A reader that finds object i torn,
// shifted or swapped with another sees it without any shared bookkeeping.
struct NumberedObjects {
    unsigned int spread;  // object i is 8 to 8 + spread - 1 bytes long

    unsigned short size_of(unsigned long i) const {
        return static_cast<unsigned short>(8 + (i * 0x9E3779B97F4A7C15UL >> 40) % spread);
    }
    void fill(char* p, unsigned long i) const {
        memcpy(p, &i, 8);
        for (unsigned short j = 8; j < size_of(i); ++j) p[j] = static_cast<char>(i * 13 + j);
    }
    bool holds(const char* p, unsigned short n, unsigned long i) const {
        if (n != size_of(i)) return false;
        unsigned long stored;
        memcpy(&stored, p, 8);
        if (stored != i) return false;
        for (unsigned short j = 8; j < n; ++j)
            if (p[j] != static_cast<char>(i * 13 + j)) return false;
        return true;
    }
};

#endif  // XELMD_TESTS_BASE_NUMBERED_OBJECT_H

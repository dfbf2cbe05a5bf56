// A directory of the fuzz target's own for the files it writes, in memory
// where the machine has /dev/shm (a repair that syncs costs nothing there),
// removed at exit once the target has emptied it.
#ifndef XELMD_TESTS_FUZZ_SCRATCH_DIR_H
#define XELMD_TESTS_FUZZ_SCRATCH_DIR_H

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

inline const std::string& scratch_dir() {
    static char name[64];
    static const std::string dir = [] {
        for (const char* base : {"/dev/shm", "/tmp"}) {
            snprintf(name, sizeof name, "%s/xelmdfuzzXXXXXX", base);
            if (mkdtemp(name) != nullptr) return std::string(name);
        }
        perror("mkdtemp");
        abort();
    }();
    static const int removed = atexit([] { rmdir(name); });
    (void)removed;
    return dir;
}

#endif  // XELMD_TESTS_FUZZ_SCRATCH_DIR_H

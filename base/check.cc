#include "base/check.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace Base {

void fail_system(const char* what) {
    int error = errno;
    fprintf(stderr, "FATAL! %s failed: [%s]\n", what, strerror(error));
    abort();
}

void fail_check(const char* file, int line, const char* condition, const char* what) {
    fprintf(stderr, "FATAL! broken contract at %s:%d: %s (%s)\n", file, line, condition, what);
    abort();
}

}  // namespace Base

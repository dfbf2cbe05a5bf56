#ifndef XELMD_BASE_CHECK_H
#define XELMD_BASE_CHECK_H

namespace Base {

// Prints "FATAL! <what> failed: [<errno text>]" to standard error and
// aborts. For a system call whose failure leaves an object that cannot work
// and whose operation has no error result to give. Any thread.
[[noreturn]] void fail_system(const char* what);

// Prints "FATAL! broken contract at <file>:<line>: <condition> (<what>)" and
// aborts; reached only through XELMD_CHECK.
[[noreturn]] void fail_check(const char* file, int line, const char* condition, const char* what);

}  // namespace Base

// Checks a contract between the library's own parts (the right thread, a
// known event, a non-null timer). Active in debug and sanitizer builds, where
// CMake defines XELMD_CHECKS; compiled out of the product, where the
// condition is not evaluated.
#if defined(XELMD_CHECKS)
#define XELMD_CHECK(condition, what) \
    ((condition) ? (void)0 : ::Base::fail_check(__FILE__, __LINE__, #condition, what))
#else
#define XELMD_CHECK(condition, what) ((void)sizeof(!(condition)))
#endif

#endif  // XELMD_BASE_CHECK_H

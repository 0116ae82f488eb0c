// A stand-in for the login library: the lock function appends one line to the file named by
// TOVAK_LOCK_CALLS, so the test can count calls across loads and unloads. Built with
// TOVAK_NO_SYMBOL it loads but has no lock function.
#include <cstdio>
#include <cstdlib>

#ifndef TOVAK_NO_SYMBOL
extern "C" __attribute__((visibility("default"))) void SACLockScreenImmediate() {
    if (const char* path = std::getenv("TOVAK_LOCK_CALLS")) {
        if (std::FILE* file = std::fopen(path, "a")) {
            std::fputs("lock\n", file);
            std::fclose(file);
        }
    }
}
#endif

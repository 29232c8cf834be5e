// Test helper, preloaded into the server: the monotonic clock stands still, so a time the
// server waits for on that clock never comes. What happens meanwhile happens for other reasons.
// Every other clock runs as usual.
#include <ctime>
#include <sys/syscall.h>
#include <unistd.h>

// The C library's header names the parameters with reserved names, which we may not use.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int clock_gettime(clockid_t clock, timespec *now)
{
    if (clock == CLOCK_MONOTONIC) {
        *now = timespec{.tv_sec = 1000, .tv_nsec = 0};
        return 0;
    }
    return static_cast<int>(syscall(SYS_clock_gettime, clock, now));
}

// Test helper, preloaded into pairjoin: the main thread's sleeps return at once, and every other
// thread's sleep stays as it was. A main thread that waits for a thread by sleeping long enough
// then reads the counters before that thread is done; only a join still waits for it.
#include <ctime>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using sleep_function = unsigned (*)(unsigned);
using usleep_function = int (*)(useconds_t);
using nanosleep_function = int (*)(const timespec *, timespec *);
using clock_nanosleep_function = int (*)(clockid_t, int, const timespec *, timespec *);

bool in_main_thread()
{
    return syscall(SYS_gettid) == getpid();
}

template <typename Function> Function next_definition(const char *name)
{
    void *found = dlsym(RTLD_NEXT, name);
    if (found == nullptr)
        _exit(127);
    return reinterpret_cast<Function>(found); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

} // namespace

// The C library's header names the parameters with reserved names, which we may not use.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" unsigned sleep(unsigned seconds)
{
    static const auto real_sleep = next_definition<sleep_function>("sleep");
    return in_main_thread() ? 0 : real_sleep(seconds);
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int usleep(useconds_t microseconds)
{
    static const auto real_usleep = next_definition<usleep_function>("usleep");
    return in_main_thread() ? 0 : real_usleep(microseconds);
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int nanosleep(const timespec *duration, timespec *remaining)
{
    static const auto real_nanosleep = next_definition<nanosleep_function>("nanosleep");
    return in_main_thread() ? 0 : real_nanosleep(duration, remaining);
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int clock_nanosleep(clockid_t clock, int flags, const timespec *duration,
                               timespec *remaining)
{
    static const auto real_clock_nanosleep =
        next_definition<clock_nanosleep_function>("clock_nanosleep");
    return in_main_thread() ? 0 : real_clock_nanosleep(clock, flags, duration, remaining);
}

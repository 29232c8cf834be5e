// Test helper, preloaded into tickmeter: times() returns the largest clock_t less 4 on its
// first call and the smallest clock_t plus 6 on its second, so the tick count wraps between the
// two samples, 11 ticks apart. The CPU figures are all 0.
#include <cstdlib>
#include <dlfcn.h>
#include <limits>
#include <sys/times.h>

namespace {

int calls = 0;

using system_function = int (*)(const char *);

} // namespace

// The shell that system() starts must run unchanged: it is not given this library. Only then is
// it taken out of the environment, so that a program started through another one (a launcher
// that execs it) is still given it.
extern "C" int system(const char *command)
{
    unsetenv("LD_PRELOAD");
    static const auto real_system = reinterpret_cast<system_function>( // NOLINT
        dlsym(RTLD_NEXT, "system"));
    if (real_system == nullptr)
        abort();
    return real_system(command);
}

// The C library's header names the parameter with a reserved name, which we may not use.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" clock_t times(tms *buf)
{
    *buf = tms{};
    return calls++ == 0 ? std::numeric_limits<clock_t>::max() - 4
                        : std::numeric_limits<clock_t>::min() + 6;
}

// Test helper, preloaded into tickmeter (with times_wrap): sysconf gives a tick rate of 10 a
// second, where Linux says 100. sysconf makes no system call, so only a stand-in can tell a
// program that asks the system for the rate from one that has a number written in.
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

namespace {

constexpr long ticks_per_second = 10;

using sysconf_function = long (*)(int);

} // namespace

// The C library's header names the parameter with a reserved name, which we may not use.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" long sysconf(int name) noexcept
{
    if (name == _SC_CLK_TCK)
        return ticks_per_second;
    static const auto real_sysconf = reinterpret_cast<sysconf_function>( // NOLINT
        dlsym(RTLD_NEXT, "sysconf"));
    if (real_sysconf == nullptr)
        abort();
    return real_sysconf(name);
}

// Test helper, preloaded into shellrun: system() runs the command as it would, and when it
// returns a status it leaves errno at EINTR, as a system() whose wait was interrupted by a
// signal and tried again does. errno tells nothing about a call that did not fail.
#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>

namespace {

using system_function = int (*)(const char *);

} // namespace

// The shell that system() starts must run unchanged: it is not given this library (in the
// 32-bit build a 64-bit shell could not load it, and its loader would say so on standard error).
// Only then is it taken out of the environment, so that a program started through a launcher
// that execs it is still given it.
// The C library's header names the parameter with a reserved name, which we may not use.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int system(const char *command)
{
    unsetenv("LD_PRELOAD");
    static const auto real_system = reinterpret_cast<system_function>( // NOLINT
        dlsym(RTLD_NEXT, "system"));
    if (real_system == nullptr)
        abort();
    const int status = real_system(command);
    if (status != -1)
        errno = EINTR;
    return status;
}

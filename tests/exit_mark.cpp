// Test helper, preloaded into farewell: each exit handler the program registers is wrapped, and
// each of them prints "-- exit handler --" on standard output right before it runs. So the
// output shows which lines the handlers printed at exit, which ones main printed itself, and
// which handler printed each: one handler that prints the lines of several shows as one.
// atexit is a small routine linked into the program, beyond the reach of a stand-in; it passes
// the handler on to __cxa_atexit with no argument and the program's own module handle, and that
// is the call caught here. (A destructor of a static object comes with its object's address as
// the argument: it runs as registered.)
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/auxv.h>

namespace {

using handler_function = void (*)();
using cxa_handler_function = void (*)(void *);
using cxa_atexit_function = int (*)(cxa_handler_function, void *, void *);

// True when address is in the program itself, not in one of its libraries.
bool in_program(const void *address)
{
    Dl_info program{};
    Dl_info found{};
    // The program's header table is loaded with the program.
    const auto *header = reinterpret_cast<const void *>(getauxval(AT_PHDR)); // NOLINT
    return dladdr(header, &program) != 0 && dladdr(address, &found) != 0 &&
           program.dli_fbase == found.dli_fbase;
}

void marked_handler(void *handler)
{
    fputs("-- exit handler --\n", stdout);
    reinterpret_cast<handler_function>(handler)(); // NOLINT: passed as the argument below
}

} // namespace

// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" int __cxa_atexit(cxa_handler_function handler, void *arg, void *module)
{
    static const auto real_cxa_atexit = reinterpret_cast<cxa_atexit_function>( // NOLINT
        dlsym(RTLD_NEXT, "__cxa_atexit"));
    if (real_cxa_atexit == nullptr)
        abort();
    if (arg != nullptr || !in_program(module))
        return real_cxa_atexit(handler, arg, module);
    return real_cxa_atexit(marked_handler, reinterpret_cast<void *>(handler), module); // NOLINT
}

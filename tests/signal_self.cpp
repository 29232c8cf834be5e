// Test helper, preloaded into catcher: before its first pause it sends itself SIGUSR2, so one
// more user signal arrives than anyone else sent, from the program itself.
#include <csignal>
#include <dlfcn.h>
#include <unistd.h>

namespace {

using pause_function = int (*)();

pause_function real_pause()
{
    void *found = dlsym(RTLD_NEXT, "pause");
    if (found == nullptr)
        _exit(127);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    return reinterpret_cast<pause_function>(found);
}

} // namespace

extern "C" int pause()
{
    static const auto wait_for_signal = real_pause();
    static bool sent = false;
    if (!sent) {
        sent = true;
        raise(SIGUSR2);
    }
    return wait_for_signal();
}

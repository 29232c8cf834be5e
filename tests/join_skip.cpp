// Test helper, preloaded into pairjoin: its first pthread_join returns at once without waiting,
// as if the call had been left out; later joins wait as they should. The thread that was not
// joined still runs, and ends with the process.
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

namespace {

using join_function = int (*)(pthread_t, void **);

join_function real_join()
{
    void *found = dlsym(RTLD_NEXT, "pthread_join");
    if (found == nullptr)
        _exit(127);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    return reinterpret_cast<join_function>(found);
}

} // namespace

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int pthread_join(pthread_t thread, void **result)
{
    static const auto join = real_join();
    static bool skipped = false;
    if (!skipped) {
        skipped = true;
        return 0;
    }
    return join(thread, result);
}

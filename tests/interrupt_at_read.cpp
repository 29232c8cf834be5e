// Test helper, preloaded into the bash that runs ./tour: the first time the shell begins to wait
// for its terminal (a read of it, or a select that covers it and waits), it sends itself SIGINT
// just before, as a Ctrl-C typed in that instant would arrive. A shell that then blocks in the read
// has already taken the signal and runs its trap only when a line comes. The library takes
// itself out of the environment, so that nothing the tour starts has it.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/select.h>
#include <unistd.h>

namespace {

bool sent = false;

void *real(const char *name)
{
    void *found = dlsym(RTLD_NEXT, name);
    if (found == nullptr)
        _exit(127);
    return found;
}

void interrupt_once(int fd)
{
    const int saved_errno = errno;
    if (!sent && fd == STDIN_FILENO && isatty(fd) == 1) {
        sent = true;
        raise(SIGINT);
    }
    errno = saved_errno;
}

// The C library's own: bash has an unsetenv of its own, which does nothing before its
// variables are made, so that the tour would pass the library on to all it starts.
[[gnu::constructor]] void leave_the_environment()
{
    using unsetenv_function = int (*)(const char *);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    reinterpret_cast<unsetenv_function>(real("unsetenv"))("LD_PRELOAD");
}

// A select that returns at once (bash's read -t 0) is a look, not a wait.
bool waits(const timespec *timeout)
{
    return timeout == nullptr || timeout->tv_sec != 0 || timeout->tv_nsec != 0;
}

bool waits(const timeval *timeout)
{
    return timeout == nullptr || timeout->tv_sec != 0 || timeout->tv_usec != 0;
}

} // namespace

// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" ssize_t read(int fd, void *buffer, size_t count)
{
    using read_function = ssize_t (*)(int, void *, size_t);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    static const auto real_read = reinterpret_cast<read_function>(real("read"));
    interrupt_once(fd);
    return real_read(fd, buffer, count);
}

extern "C" int pselect(int count, fd_set *readable, fd_set *writable, fd_set *failed,
                       const timespec *timeout, const sigset_t *mask)
{
    using pselect_function =
        int (*)(int, fd_set *, fd_set *, fd_set *, const timespec *, const sigset_t *);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    static const auto real_pselect = reinterpret_cast<pselect_function>(real("pselect"));
    if (readable != nullptr && count > STDIN_FILENO && FD_ISSET(STDIN_FILENO, readable) &&
        waits(timeout))
        interrupt_once(STDIN_FILENO);
    return real_pselect(count, readable, writable, failed, timeout, mask);
}

extern "C" int select(int count, fd_set *readable, fd_set *writable, fd_set *failed,
                      timeval *timeout)
{
    using select_function = int (*)(int, fd_set *, fd_set *, fd_set *, timeval *);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    static const auto real_select = reinterpret_cast<select_function>(real("select"));
    if (readable != nullptr && count > STDIN_FILENO && FD_ISSET(STDIN_FILENO, readable) &&
        waits(timeout))
        interrupt_once(STDIN_FILENO);
    return real_select(count, readable, writable, failed, timeout);
}
// NOLINTEND(readability-inconsistent-declaration-parameter-name)

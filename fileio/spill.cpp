// spill: write a large block to a non-blocking standard output and log every attempt.
//
// Run:   ./spill < big-file 2> log | (sleep 1; cat > /dev/null)
// Watch: "read N bytes", then one "nwrite = R, errno = E" line per write attempt. While the
//        reader sleeps the pipe fills and attempts are refused at once (R = -1, E = 11, EAGAIN);
//        the positive results add up to N. Standard output is blocking again afterwards, also
//        when Ctrl-C (or kill) ends the program half-way, and while Ctrl-Z holds it stopped.
#include "errlib.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t block_size = 100000;

std::array<char, block_size> buf; // the one block read from standard input

// A refusal that clears by itself once the reader catches up (or a signal has been handled).
bool worth_retrying(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

// Leave standard output blocking again before giving up on it.
[[noreturn]] void give_up(int nwrite, int err)
{
    clr_fl(STDOUT_FILENO, O_NONBLOCK);
    if (nwrite == 0)
        err_quit("write error: nothing written");
    errno = err;
    err_sys("write error");
}

// --- Interrupted half-way ----------------------------------------------------------------------
// O_NONBLOCK belongs to the open file description, which on a terminal the shell shares: a
// spill ended or stopped with it on would leave the shell's next command facing EAGAIN. The
// handlers below turn it off first, with nothing but async-signal-safe calls (fcntl, sigaction,
// sigprocmask, raise), and then let the signal do what it would have done.

constexpr std::array ending_signals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void set_handler(int sig, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (const int other : ending_signals)
        sigaddset(&action.sa_mask, other); // one handler at a time
    sigaddset(&action.sa_mask, SIGTSTP);
    action.sa_flags = SA_RESTART; // a stop and a go do not cut the read or a write short
    sigaction(sig, &action, nullptr);
}

// Turn O_NONBLOCK on or off with fcntl alone; returns whether it was on.
bool switch_nonblocking(bool on)
{
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (flags < 0)
        return false;
    fcntl(STDOUT_FILENO, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
    return (flags & O_NONBLOCK) != 0;
}

// SIGINT, SIGTERM, SIGHUP, SIGQUIT: blocking again, then the same signal ends the program as it
// would have, with the status a shell shows as 128 + its number.
void end_blocking(int sig)
{
    switch_nonblocking(false);
    set_handler(sig, SIG_DFL);
    raise(sig); // held back until this handler returns; then it ends the program
}

// SIGTSTP (Ctrl-Z): blocking while stopped, non-blocking again when SIGCONT lets it go on.
void stop_blocking(int sig)
{
    const int saved_errno = errno;
    const bool was_nonblocking = switch_nonblocking(false);

    set_handler(sig, SIG_DFL);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, sig);
    sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
    raise(sig); // stops here; SIGCONT resumes here

    // Caught again before the flag goes back on: a second Ctrl-Z must not find it on.
    sigprocmask(SIG_BLOCK, &just_this, nullptr);
    set_handler(sig, stop_blocking);
    if (was_nonblocking)
        switch_nonblocking(true);
    errno = saved_errno;
}

// A signal that whoever started spill chose to ignore (nohup, or a job started in the
// background by a script) stays ignored: it would neither end nor stop the program.
void catch_unless_ignored(int sig, void (*handler)(int))
{
    struct sigaction current = {};
    if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
        return;
    set_handler(sig, handler);
}

void catch_interruptions()
{
    for (const int sig : ending_signals)
        catch_unless_ignored(sig, end_blocking);
    catch_unless_ignored(SIGTSTP, stop_blocking);
}

} // namespace

int main()
{
    // at most 100000: fits an int
    int ntowrite = static_cast<int>(read(STDIN_FILENO, buf.data(), buf.size()));
    fprintf(stderr, "read %d bytes\n", ntowrite);

    catch_interruptions(); // from here on, an interrupted spill leaves the flag off
    set_fl(STDOUT_FILENO, O_NONBLOCK);

    const char *ptr = buf.data();
    while (ntowrite > 0) {
        errno = 0;
        // Every attempt offers all that is still unwritten.
        const int nwrite = static_cast<int>(write(STDOUT_FILENO, ptr, ntowrite));
        const int err = errno; // fprintf below may change errno
        fprintf(stderr, "nwrite = %d, errno = %d\n", nwrite, err);

        if (nwrite > 0) {
            ptr += nwrite;
            ntowrite -= nwrite;
        } else if (nwrite == 0 || !worth_retrying(err)) {
            give_up(nwrite, err); // e.g. no space left: retrying would spin for ever
        }
        // A refused attempt is retried at once: no sleep, no wait for writability.
    }

    clr_fl(STDOUT_FILENO, O_NONBLOCK);
    exit(0);
}

// catcher: one handler for both user-defined signals, then wait for signals for ever.
//
// Run:   ./catcher &  then  kill -USR1 %1; kill -USR2 %1; kill %1
// Watch: one line per delivered signal; the handler stays installed, so every delivery prints.
//        The terminate signal ends the program by its default action, with nothing printed.
#include "errlib.h"

#include <cerrno>
#include <csignal>
#include <string_view>
#include <unistd.h>

namespace {

// The handler writes each line with a single write(), which is safe inside a handler and goes
// out at once, also to a file or pipe, so nothing is lost when the process is killed.
void write_line(std::string_view line)
{
    const ssize_t written = write(STDOUT_FILENO, line.data(), line.size());
    static_cast<void>(written); // nothing sensible to do about a lost line here
}

void sig_usr(int signo)
{
    const int saved_errno = errno; // the interrupted code must find errno unchanged
    if (signo == SIGUSR1)
        write_line("received SIGUSR1\n");
    else if (signo == SIGUSR2)
        write_line("received SIGUSR2\n");
    else
        err_dump("received signal %d\n", signo);
    errno = saved_errno;
}

// Install sig_usr for signo for good: never reset to the default, interrupted calls restarted,
// and both user signals held back while it runs so that one call never interrupts another.
bool catch_signal(int signo)
{
    struct sigaction act = {};
    act.sa_handler = sig_usr;
    sigemptyset(&act.sa_mask);
    sigaddset(&act.sa_mask, SIGUSR1);
    sigaddset(&act.sa_mask, SIGUSR2);
    act.sa_flags = SA_RESTART;
    return sigaction(signo, &act, nullptr) == 0;
}

} // namespace

int main()
{
    if (!catch_signal(SIGUSR1))
        err_sys("can't catch SIGUSR1");
    if (!catch_signal(SIGUSR2))
        err_sys("can't catch SIGUSR2");

    for (;;)
        pause(); // returns after each handled signal
}

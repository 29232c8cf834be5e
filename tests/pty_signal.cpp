// Test helper: run a command with its standard output on a pseudo-terminal that nobody reads,
// so that the terminal fills and refuses further writes. Once the command has made the terminal
// non-blocking, send it the given signals one by one and report, after each, how the command
// stands and whether the terminal (which this helper holds open too) is non-blocking:
//
//     pty_signal INT -- spill < block      prints   INT: ended by signal 2, terminal blocking
//
// After CONT it waits (up to five seconds) for the terminal to be non-blocking again; after any
// other signal, up to five seconds for the command to end or stop ("running" when it does
// neither: it ignored the signal). Every wait is bounded: the whole run ends by an alarm after
// twenty seconds.
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned time_limit_seconds = 20;
constexpr int wait_steps = 500; // of 10 ms each: five seconds
constexpr useconds_t step_us = 10000;

struct named_signal {
    std::string_view name;
    int number;
};

constexpr std::array known_signals{
    named_signal{.name = "INT", .number = SIGINT},
    named_signal{.name = "TERM", .number = SIGTERM},
    named_signal{.name = "HUP", .number = SIGHUP},
    named_signal{.name = "QUIT", .number = SIGQUIT},
    named_signal{.name = "TSTP", .number = SIGTSTP},
    named_signal{.name = "CONT", .number = SIGCONT},
};

[[noreturn]] void fail(const char *what)
{
    perror(what);
    exit(2);
}

int signal_number(std::string_view name)
{
    for (const auto &known : known_signals)
        if (known.name == name)
            return known.number;
    fprintf(stderr, "pty_signal: unknown signal %.*s\n", static_cast<int>(name.size()),
            name.data());
    exit(2);
}

bool is_nonblocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        fail("pty_signal: fcntl");
    return (flags & O_NONBLOCK) != 0;
}

// Wait until the terminal's non-blocking flag is on; false after five seconds.
bool wait_nonblocking(int fd)
{
    for (int step = 0; step < wait_steps; ++step) {
        if (is_nonblocking(fd))
            return true;
        usleep(step_us);
    }
    return false;
}

// Wait until process pid ends or stops, and return its status; -1 when it still runs after five
// seconds.
int wait_changed(pid_t pid)
{
    for (int step = 0; step < wait_steps; ++step) {
        int status = 0;
        const pid_t changed = waitpid(pid, &status, WUNTRACED | WNOHANG);
        if (changed < 0)
            fail("pty_signal: waitpid");
        if (changed == pid)
            return status;
        usleep(step_us);
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<int> signals;
    int arg = 1;
    for (; arg < argc && std::strcmp(argv[arg], "--") != 0; ++arg)
        signals.push_back(signal_number(argv[arg]));
    if (arg + 1 >= argc) {
        fputs("usage: pty_signal SIGNAL... -- command [args...]\n", stderr);
        return 2;
    }
    alarm(time_limit_seconds);

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) < 0 || unlockpt(master) < 0)
        fail("pty_signal: posix_openpt");
    const int terminal = open(ptsname(master), O_WRONLY | O_NOCTTY);
    if (terminal < 0)
        fail("pty_signal: open");

    const pid_t pid = fork();
    if (pid < 0)
        fail("pty_signal: fork");
    if (pid == 0) {
        // A process group of its own whose parent is outside it: not an orphaned group, so a
        // stop signal stops it instead of being discarded. No core file for SIGQUIT.
        setpgid(0, 0);
        const rlimit no_core{.rlim_cur = 0, .rlim_max = 0};
        setrlimit(RLIMIT_CORE, &no_core);
        dup2(terminal, STDOUT_FILENO);
        close(terminal);
        close(master);
        execvp(argv[arg + 1], argv + arg + 1);
        fail("pty_signal: exec");
    }

    if (!wait_nonblocking(terminal)) {
        fputs("pty_signal: the command never made the terminal non-blocking\n", stderr);
        kill(pid, SIGKILL);
        return 2;
    }
    usleep(step_us * 10); // into its loop of refused writes

    for (const int sig : signals) {
        kill(pid, sig);
        const char *name = sigabbrev_np(sig);
        if (sig == SIGCONT) {
            wait_nonblocking(terminal);
            printf("%s: running", name);
        } else {
            const int status = wait_changed(pid);
            if (status < 0)
                printf("%s: running", name); // it ignored the signal
            else if (WIFSIGNALED(status))
                printf("%s: ended by signal %d", name, WTERMSIG(status));
            else if (WIFSTOPPED(status))
                printf("%s: stopped by signal %d", name, WSTOPSIG(status));
            else
                printf("%s: exited %d", name, WEXITSTATUS(status));
        }
        printf(", terminal %s\n", is_nonblocking(terminal) ? "non-blocking" : "blocking");
    }
    kill(pid, SIGKILL); // when the signals have not ended it
    waitpid(pid, nullptr, 0);
    return 0;
}

// practice_contain: runs the test runner of one judged test so that nothing a learner's program
// starts outlives the test, nor reaches the learner's terminal. The command runs in a session of
// its own, without a controlling terminal: /dev/tty cannot be opened there, and the standard
// descriptors the runner gives it (files, not the terminal) stay as they are. This process stays
// outside that session, as the subreaper of what it starts: a process whose parent ends, even one
// in a session of its own, becomes its child instead of init's. When the command ends, every
// process still below this one is killed, one generation after the other, by PID; then this one
// ends as the command did, with its exit status or by its signal (without a core file). It stands
// above the test runner, not between a test and the program it runs: what a test sees of a
// program's process (its PID, its parent, its group, its signals) is the program's own.
//
// Run:   practice_contain COMMAND [ARG...]
// INT, TERM, HUP and QUIT sent to it are passed on to the command, unless it started ignoring
// them.
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int cannot_run_status = 127; // as a shell says it of a command it cannot run
constexpr int signal_status = 128; // plus the signal's number: a shell's status of a death by it
constexpr size_t stat_size = 1024; // of /proc/PID/stat, up to the parent and well past it
constexpr std::array passed_on{SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// Killing what is left: bounded, whatever it does meanwhile (forks, say).
constexpr auto cleanup_limit = std::chrono::seconds(5);
constexpr auto reap_step = std::chrono::milliseconds(5);
constexpr size_t most_killed = 100000; // in all: a fork loop cannot keep this one busy for ever

volatile sig_atomic_t command = 0; // its PID while it runs, for the handler

[[noreturn]] void fail(const char *what)
{
    fprintf(stderr, "practice_contain: %s: %s\n", what, strerror(errno));
    _exit(cannot_run_status);
}

void pass_on(int sig)
{
    const int saved = errno;
    if (command > 0)
        kill(static_cast<pid_t>(command), sig);
    errno = saved;
}

sigset_t passed_on_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : passed_on)
        sigaddset(&set, sig);
    return set;
}

// The PIDs of this process's children, from each process's parent in /proc. A child's PID
// cannot be taken by another process until this one has reaped it.
std::vector<pid_t> children()
{
    std::vector<pid_t> found;
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return found;
    const pid_t self = getpid();
    while (const dirent *entry = readdir(proc)) {
        const std::string_view name(entry->d_name);
        pid_t pid = 0;
        if (std::from_chars(name.data(), name.data() + name.size(), pid).ec != std::errc{})
            continue;
        const std::string path = "/proc/" + std::string(name) + "/stat";
        FILE *file = fopen(path.c_str(), "re");
        if (file == nullptr)
            continue; // gone meanwhile
        std::array<char, stat_size> stat{};
        const size_t length = fread(stat.data(), 1, stat.size() - 1, file);
        fclose(file);
        // "pid (name) state ppid ...": the name may hold anything, so from its last ')'.
        const std::string_view line(stat.data(), length);
        const size_t name_end = line.rfind(") ");
        if (name_end == std::string_view::npos)
            continue;
        const std::string_view rest = line.substr(name_end + 2);
        const size_t space = rest.find(' ');
        if (space == std::string_view::npos)
            continue;
        const std::string_view ppid_text = rest.substr(space + 1);
        pid_t ppid = 0;
        std::from_chars(ppid_text.data(), ppid_text.data() + ppid_text.size(), ppid);
        if (ppid == self)
            found.push_back(pid);
    }
    closedir(proc);
    return found;
}

// Reap every child that has ended; true when none is left.
bool reap()
{
    for (;;) {
        const pid_t pid = waitpid(-1, nullptr, WNOHANG);
        if (pid < 0 && errno == ECHILD)
            return true;
        if (pid <= 0)
            return false;
    }
}

// Kill every process left below this one: the children, and, as each child's end makes its
// own children this one's, theirs.
void end_the_rest()
{
    const auto deadline = std::chrono::steady_clock::now() + cleanup_limit;
    size_t killed = 0;
    while (!reap()) {
        if (std::chrono::steady_clock::now() > deadline || killed > most_killed) {
            fprintf(stderr, "practice_contain: processes still run after %zu were killed\n",
                    killed);
            return;
        }
        for (const pid_t pid : children()) {
            kill(pid, SIGKILL);
            killed++;
        }
        std::this_thread::sleep_for(reap_step);
    }
}

// End as the command ended: its exit status, or its signal.
[[noreturn]] void end_as(int status)
{
    if (WIFEXITED(status))
        _exit(WEXITSTATUS(status));
    const int sig = WTERMSIG(status);
    const rlimit no_core{.rlim_cur = 0, .rlim_max = 0};
    setrlimit(RLIMIT_CORE, &no_core);
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(signal_status + sig); // should the signal not end this process
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        fputs("usage: practice_contain COMMAND [ARG...]\n", stderr);
        return cannot_run_status;
    }
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) < 0)
        fail("prctl");
    // The signals passed on are held until the command's PID is known; the command gets them
    // as this process got them (a background job of a script starts with INT ignored, say), and
    // one ignored here stays ignored.
    const sigset_t held = passed_on_set();
    sigset_t old_mask;
    sigprocmask(SIG_BLOCK, &held, &old_mask);
    std::array<struct sigaction, passed_on.size()> old_actions{};
    struct sigaction action = {};
    action.sa_handler = pass_on;
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < passed_on.size(); i++) {
        sigaction(passed_on[i], &action, &old_actions[i]);
        if (old_actions[i].sa_handler == SIG_IGN)
            sigaction(passed_on[i], &old_actions[i], nullptr);
    }

    const pid_t pid = fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        for (size_t i = 0; i < passed_on.size(); i++)
            sigaction(passed_on[i], &old_actions[i], nullptr);
        sigprocmask(SIG_SETMASK, &old_mask, nullptr);
        if (setsid() < 0)
            fail("setsid");
        execvp(argv[1], argv + 1);
        fail(argv[1]);
    }
    command = pid;
    sigprocmask(SIG_UNBLOCK, &held, nullptr);

    // Reap whatever ends meanwhile (orphans this process has taken on), until the command does;
    // WNOWAIT first, so that the command's PID is no longer signalled when it is reaped.
    int status = 0;
    for (;;) {
        siginfo_t info{};
        if (waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) < 0) {
            if (errno == EINTR)
                continue;
            fail("waitid");
        }
        if (info.si_pid == pid) {
            sigprocmask(SIG_BLOCK, &held, nullptr);
            command = 0;
            if (waitpid(pid, &status, 0) < 0)
                fail("waitpid");
            break;
        }
        waitpid(info.si_pid, nullptr, 0);
    }
    end_the_rest();
    end_as(status);
}

// Linked into every program of the coverage build, and only there. Coverage counts are written
// when a program exits; the server and catcher never exit, they are ended by a signal, and
// err_dump ends in abort. So a program about to die of SIGTERM, SIGINT or SIGABRT writes its
// counts first, then dies of the same signal, with the same status as it would have. A signal
// that was ignored or caught stays so.
#include <csignal>

extern "C" void __gcov_dump(); // NOLINT(bugprone-reserved-identifier): the compiler's own

namespace {

void dump_and_die(int sig)
{
    __gcov_dump();
    signal(sig, SIG_DFL);
    raise(sig);
}

void catch_if_default(int sig)
{
    struct sigaction now = {};
    if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_DFL)
        signal(sig, dump_and_die);
}

[[gnu::constructor]] void catch_ending_signals()
{
    catch_if_default(SIGTERM);
    catch_if_default(SIGINT);
    catch_if_default(SIGABRT);
}

} // namespace

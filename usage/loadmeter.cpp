// loadmeter: CPU seconds, page faults and swaps of the program itself and of its waited-for
// children, from getrusage().
//
// Run:   ./loadmeter
// Watch: "parent" is this program, "child" is the shell and grep that system() ran. CPU times
//        are whole seconds (cut, not rounded), so short runs show 0; the minor faults show the
//        memory each side touched.
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

// Gives the children some work; its output and its status do not matter.
constexpr const char *command = "grep the /home/*/* > /dev/null 2> /dev/null";

void doit(const char *label, long value)
{
    printf("%s: %ld\n", label, value);
}

[[noreturn]] void err_quit(const char *msg)
{
    perror(msg);
    exit(1);
}

void print_usage(const rusage &usage, const char *times_heading, const char *memory_heading)
{
    puts(times_heading);
    doit("\tuser CPU", usage.ru_utime.tv_sec);
    doit("\tsys  CPU", usage.ru_stime.tv_sec);
    puts(memory_heading);
    doit("\tminor faults", usage.ru_minflt);
    doit("\tmajor faults", usage.ru_majflt);
    doit("\tpage   swaps", usage.ru_nswap);
}

} // namespace

int main()
{
    rusage usage{};

    // Not examined (see command); held only so that builds that mark system() as a result not
    // to ignore (glibc with _FORTIFY_SOURCE, as in Debian's package build) stay warning-free.
    [[maybe_unused]] const int status = system(command);

    if (getrusage(RUSAGE_SELF, &usage) == -1)
        err_quit("getrusage");
    print_usage(usage, "parent times", "parent memory stats");

    if (getrusage(RUSAGE_CHILDREN, &usage) == -1)
        err_quit("getrusage");
    print_usage(usage, "child times", "child memory stats");

    // Lines that never reached standard output (a full disk, a closed descriptor) are a
    // failure, not a success.
    if (fflush(stdout) == EOF || ferror(stdout))
        err_quit("output error");
    exit(0);
}

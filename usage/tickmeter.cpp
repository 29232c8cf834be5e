// tickmeter: real and CPU time around one shell command, from times() in clock ticks.
//
// Run:   ./tickmeter
// Watch: the elapsed time covers the shell's pattern expansion and grep's work; the children's
//        CPU times are the shell's and grep's together (both were waited for), the parent's
//        are tiny. Every figure is ticks divided by the tick rate (usually 100 a second).
#include "stdstreams.h"

#include <cstdio>
#include <cstdlib>
#include <sys/times.h>
#include <type_traits>
#include <unistd.h>

namespace {

// Gives the children some work; its output and its status do not matter.
constexpr const char *command = "grep the /etc/*/* > /dev/null 2> /dev/null";

void doit(const char *label, clock_t ticks)
{
    const long ticks_per_second = sysconf(_SC_CLK_TCK); // asked anew for every line
    printf("%s: %6.2f secs\n", label,
           static_cast<double>(ticks) / static_cast<double>(ticks_per_second));
}

// times() with its failure checked: the record would be undefined.
clock_t sample(tms &buf)
{
    const clock_t now = times(&buf);
    if (now == static_cast<clock_t>(-1)) {
        perror("times");
        exit(1);
    }
    return now;
}

// end - start, also when the tick count passed its largest value between the two samples. In
// a 32-bit build clock_t is a 32-bit long, and the count (which does not start at zero at boot)
// passes 2^31 every few hundred days; a signed subtraction across that point would overflow.
// Unsigned subtraction wraps instead, and gives the right difference.
clock_t ticks_between(clock_t start, clock_t end)
{
    using unsigned_ticks = std::make_unsigned_t<clock_t>;
    return static_cast<clock_t>(static_cast<unsigned_ticks>(end) -
                                static_cast<unsigned_ticks>(start));
}

} // namespace

int main()
{
    tms before{};
    tms after{};

    const clock_t start = sample(before);
    // Not examined (see command); held only so that builds that mark system() as a result not
    // to ignore (glibc with _FORTIFY_SOURCE, as in Debian's package build) stay warning-free.
    [[maybe_unused]] const int status = system(command);
    const clock_t end = sample(after);

    doit("elapsed", ticks_between(start, end));
    puts("parent times");
    doit("\tuser CPU", after.tms_utime);
    doit("\tsys  CPU", after.tms_stime);
    puts("child times");
    doit("\tuser CPU", after.tms_cutime);
    doit("\tsys  CPU", after.tms_cstime);
    report_lost_output(); // lines that never reached standard output are a failure
    exit(0);
}

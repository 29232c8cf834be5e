// tickmeter: real and CPU time around one shell command, from times() in clock ticks.
//
// Run:   ./tickmeter
// Watch: the elapsed time covers the shell's pattern expansion and grep's work; the children's
//        CPU times are the shell's and grep's together (both were waited for), the parent's
//        are tiny. Every figure is ticks divided by the tick rate (usually 100 a second).
#include <cstdio>
#include <cstdlib>
#include <sys/times.h>
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

} // namespace

int main()
{
    tms before{};
    tms after{};

    const clock_t start = sample(before);
    system(command);
    const clock_t end = sample(after);

    doit("elapsed", end - start);
    puts("parent times");
    doit("\tuser CPU", after.tms_utime);
    doit("\tsys  CPU", after.tms_stime);
    puts("child times");
    doit("\tuser CPU", after.tms_cutime);
    doit("\tsys  CPU", after.tms_cstime);
    exit(0);
}

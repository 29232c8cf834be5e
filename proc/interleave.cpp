// interleave: a parent and its child write to one standard output, unbuffered, one character
// a second, with nothing to coordinate them.
//
// Run:   ./interleave
// Watch: the characters of "output from child" and "output from parent" come out mixed, in an
//        order that changes from run to run. The parent does not wait for its child, so the
//        shell prompt may come back before the last characters. A character that cannot be
//        written (./interleave > /dev/full) ends each process with "output error".
#include "errlib.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr unsigned pause_seconds = 1;

// Each character goes out as a write of its own, followed by a pause, so the scheduler decides
// whose character comes next.
void charatatime(const char *str)
{
    setbuf(stdout, nullptr); // unbuffered in this process
    for (const char *ptr = str; *ptr != '\0'; ++ptr) {
        if (putc(*ptr, stdout) == EOF)
            err_sys("output error");
        sleep(pause_seconds);
    }
}

} // namespace

int main()
{
    const pid_t pid = fork();
    if (pid < 0)
        err_sys("fork error");
    else if (pid == 0)
        charatatime("output from child\n");
    else
        charatatime("output from parent\n");
    exit(0); // neither process waits for the other
}

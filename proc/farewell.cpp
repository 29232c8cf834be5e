// farewell: exit handlers run at normal termination, last registered first, once per
// registration.
//
// Run:   ./farewell
// Watch: "main is done" comes first; then my_exit1 runs twice (registered twice, and last), then
//        my_exit2, registered before it. check_output, registered first of all, runs last: it
//        reports lines that could not be written (./farewell > /dev/full) and makes the status 1.
#include "errlib.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

void my_exit1()
{
    printf("first exit handler\n");
}

void my_exit2()
{
    printf("second exit handler\n");
}

// Runs after the other handlers, whose lines are still in the buffer of standard output: flush
// them and check that nothing was lost. A handler may not call exit, hence _exit.
void check_output()
{
    if (fflush(stdout) == EOF || ferror(stdout)) {
        perror("output error");
        _exit(1);
    }
}

} // namespace

int main()
{
    if (atexit(check_output) != 0)
        err_sys("can't register check_output");

    if (atexit(my_exit2) != 0)
        err_sys("can't register my_exit2");

    if (atexit(my_exit1) != 0)
        err_sys("can't register my_exit1");
    if (atexit(my_exit1) != 0)
        err_sys("can't register my_exit1");

    printf("main is done\n");
    return 0; // exit(0): the handlers run, then the streams are flushed
}

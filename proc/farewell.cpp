// farewell: exit handlers run at normal termination, last registered first, once per
// registration.
//
// Run:   ./farewell
// Watch: "main is done" comes first; then my_exit1 runs twice (registered twice, and last), then
//        my_exit2, registered before it. report_lost_output, registered first of all, runs last:
//        it reports lines that could not be written (./farewell > /dev/full), with status 1.
#include "errlib.h"
#include "stdstreams.h"

#include <cstdio>
#include <cstdlib>

namespace {

void my_exit1()
{
    printf("first exit handler\n");
}

void my_exit2()
{
    printf("second exit handler\n");
}

} // namespace

int main()
{
    // First registered, last run: it writes out what the two handlers below left in the buffer
    // of standard output, and reports a line that could not be written.
    if (atexit(report_lost_output) != 0)
        err_sys("can't register report_lost_output");

    if (atexit(my_exit2) != 0)
        err_sys("can't register my_exit2");

    if (atexit(my_exit1) != 0)
        err_sys("can't register my_exit1");
    if (atexit(my_exit1) != 0)
        err_sys("can't register my_exit1");

    printf("main is done\n");
    return 0; // exit(0): the handlers run, then the streams are flushed
}

// farewell: exit handlers run at normal termination, last registered first, once per
// registration.
//
// Run:   ./farewell
// Watch: "main is done" comes first; then my_exit1 runs twice (registered twice, and last), and
//        my_exit2, registered first, runs last.
#include "errlib.h"

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
    if (atexit(my_exit2) != 0)
        err_sys("can't register my_exit2");

    if (atexit(my_exit1) != 0)
        err_sys("can't register my_exit1");
    if (atexit(my_exit1) != 0)
        err_sys("can't register my_exit1");

    printf("main is done\n");
    return 0; // exit(0): the handlers run, then the streams are flushed
}

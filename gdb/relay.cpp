// relay: a chain of four calls to step through in a debugger.
//
// Run:   gdb ./relay   then  break number, run, backtrace, finish (three times, printing ret)
// Watch: stopped in number, the backtrace shows number, get_key_num, make_key, main; each
//        caller's ret gets its value only when its call returns: 10 in every frame.
#include "stdstreams.h"

#include <cstdio>
#include <cstdlib>

int make_key();
int get_key_num();
int number();

int main()
{
    int ret = make_key();
    printf("make_key returns %d\n", ret);
    report_lost_output(); // a line that never reached standard output is a failure
    exit(0);
}

int make_key()
{
    int ret = get_key_num();
    return ret;
}

int get_key_num()
{
    int ret = number();
    return ret;
}

int number()
{
    return 10;
}

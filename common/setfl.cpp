// set_fl: turn on file status flags of a descriptor, keeping the others.
#include "errlib.h"

#include <fcntl.h>

void set_fl(int fd, int flags)
{
    int val = fcntl(fd, F_GETFL, 0);
    if (val < 0)
        err_sys("fcntl F_GETFL error");

    val |= flags; // read-modify-write: every other flag stays as it was

    if (fcntl(fd, F_SETFL, val) < 0)
        err_sys("fcntl F_SETFL error");
}

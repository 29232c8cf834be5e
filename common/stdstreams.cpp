// fill_std_fds and report_lost_output: see stdstreams.h.
#include "stdstreams.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

void fill_std_fds()
{
    const int errno_save = errno; // a closed descriptor found is no error of the caller's
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue; // open
        // The lower numbers are all taken by now, so open returns this one.
        if (open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd) {
            perror("/dev/null");
            exit(1);
        }
    }
    errno = errno_save;
}

void report_lost_output()
{
    if (fflush(stdout) != EOF && !ferror(stdout))
        return;
    perror("output error");
    _exit(1); // exit, called again from its own handler, would be undefined
}

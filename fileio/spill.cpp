// spill: write a large block to a non-blocking standard output and log every attempt.
//
// Run:   ./spill < big-file 2> log | (sleep 1; cat > /dev/null)
// Watch: "read N bytes", then one "nwrite = R, errno = E" line per write attempt. While the
//        reader sleeps the pipe fills and attempts are refused at once (R = -1, E = 11, EAGAIN);
//        the positive results add up to N. Standard output is blocking again afterwards.
#include "errlib.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t block_size = 100000;

std::array<char, block_size> buf; // the one block read from standard input

// A refusal that clears by itself once the reader catches up (or a signal has been handled).
bool worth_retrying(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

// Leave standard output blocking again before giving up on it.
[[noreturn]] void give_up(int nwrite, int err)
{
    clr_fl(STDOUT_FILENO, O_NONBLOCK);
    if (nwrite == 0)
        err_quit("write error: nothing written");
    errno = err;
    err_sys("write error");
}

} // namespace

int main()
{
    // at most 100000: fits an int
    int ntowrite = static_cast<int>(read(STDIN_FILENO, buf.data(), buf.size()));
    fprintf(stderr, "read %d bytes\n", ntowrite);

    set_fl(STDOUT_FILENO, O_NONBLOCK);

    const char *ptr = buf.data();
    while (ntowrite > 0) {
        errno = 0;
        // Every attempt offers all that is still unwritten.
        const int nwrite = static_cast<int>(write(STDOUT_FILENO, ptr, ntowrite));
        const int err = errno; // fprintf below may change errno
        fprintf(stderr, "nwrite = %d, errno = %d\n", nwrite, err);

        if (nwrite > 0) {
            ptr += nwrite;
            ntowrite -= nwrite;
        } else if (nwrite == 0 || !worth_retrying(err)) {
            give_up(nwrite, err); // e.g. no space left: retrying would spin for ever
        }
        // A refused attempt is retried at once: no sleep, no wait for writability.
    }

    clr_fl(STDOUT_FILENO, O_NONBLOCK);
    exit(0);
}

// Test helper: turn on O_NONBLOCK for standard output, then run the given command in its place.
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 2) {
        fputs("usage: nonblock_exec command [args...]\n", stderr);
        return 2;
    }
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (flags < 0 || fcntl(STDOUT_FILENO, F_SETFL, flags | O_NONBLOCK) < 0) {
        perror("nonblock_exec: fcntl");
        return 2;
    }
    execvp(argv[1], argv + 1);
    perror("nonblock_exec: exec");
    return 127;
}

// charcopy: copy standard input to standard output one character at a time with getc and
// putc, through the standard I/O library's buffers.
//
// Run:   ./charcopy < some-file > copy
// Watch: the copy is byte for byte the same, 0x00 and 0xFF included (the character is held in
//        an int, so 0xFF is never taken for EOF); a read error and a write error are told
//        apart from the end of input and reported ("input error", "output error").
#include "errlib.h"

#include <cstdio>
#include <cstdlib>

int main()
{
    int c; // int, not char: EOF must differ from every byte value
    while ((c = getc(stdin)) != EOF)
        if (putc(c, stdout) == EOF)
            err_sys("output error");

    // getc returns EOF both at end of input and on a read error; the error indicator tells.
    if (ferror(stdin))
        err_sys("input error");

    // What is still buffered must reach the output too; exit would drop a failure silently.
    if (fflush(stdout) == EOF)
        err_sys("output error");

    exit(0);
}

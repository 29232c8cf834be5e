// test: print the name of a build-configuration symbol; it tests nothing at run time.
//
// Run:   ./test
// Watch: prints HAVE_MMAP on every run, whatever system it runs on.
#include <cstdio>
#include <cstdlib>

int main()
{
    printf("HAVE_MMAP\n");
    // Nothing goes to standard error, by design: a line that could not be written shows in the
    // status alone.
    return fflush(stdout) == 0 && ferror(stdout) == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

// oldstyle: compare a small value as an unsigned number, and print it.
//
// Run:   ./oldstyle
// Watch: prints 2: the value passes the unsigned comparison on every run.
#include <cstdio>
#include <cstdlib>

int main()
{
    constexpr unsigned limit = 4;
    int value = 2;
    if (static_cast<unsigned>(value) <= limit)
        printf("%d\n", value);
    // Nothing goes to standard error, by design: a line that could not be written shows in the
    // status alone.
    return fflush(stdout) == 0 && ferror(stdout) == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

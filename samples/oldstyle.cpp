// oldstyle: compare a small value as an unsigned number, and print it.
//
// Run:   ./oldstyle
// Watch: prints 2: the value passes the unsigned comparison on every run.
#include <cstdio>

int main()
{
    constexpr unsigned limit = 4;
    int value = 2;
    if (static_cast<unsigned>(value) <= limit)
        printf("%d\n", value);
}

// test: print the name of a build-configuration symbol; it tests nothing at run time.
//
// Run:   ./test
// Watch: prints HAVE_MMAP on every run, whatever system it runs on.
#include <cstdio>

int main()
{
    printf("HAVE_MMAP\n");
}

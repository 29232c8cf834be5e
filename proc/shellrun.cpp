// shellrun: run one command line through the shell with system().
//
// Run:   ./shellrun 'date; exit 3'; echo "status $?"
// Watch: the command's own output and complaints come straight through, but its exit status
//        does not: shellrun exits 0 whenever system() itself worked. While the command runs,
//        Ctrl-C ends the command, not shellrun (system() ignores the interrupt meanwhile).
#include "errlib.h"

#include <cstdlib>

int main(int argc, char *argv[])
{
    if (argc < 2)
        err_quit("command-line argument required");

    if (system(argv[1]) < 0) // only the first argument is run
        err_sys("system() error");

    exit(0);
}

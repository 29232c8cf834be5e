// postbox: create the System V message queue with key 0x12345, or open it if it exists.
//
// Run:   ./postbox; ./postbox; ipcs -q
// Watch: both runs print the same identifier: the second opens the queue that the first
//        created. The queue outlives the program; remove it with  ipcrm -Q 0x12345
#include "stdstreams.h"

#include <cstdio>
#include <cstdlib>
#include <sys/msg.h>

namespace {

constexpr key_t queue_key = 0x12345;
constexpr int permissions = 0666; // read and write for owner, group and others

} // namespace

int main()
{
    const int msqid = msgget(queue_key, IPC_CREAT | permissions);
    printf("queue id:%d\n", msqid);
    if (msqid < 0) {
        fflush(stdout);
        perror("msgget");
        exit(1);
    }
    report_lost_output(); // lines that never reached standard output are a failure
    exit(0);
}

// postinfo: print the owner, creator, permissions and byte limit of the message queue with
// key 0x12345.
//
// Run:   ./postbox; ./postinfo
// Watch: uid and cuid are your effective user ID, gid and cgid your group's; the mode is 666;
//        size is the most bytes the queue may hold (compare  ipcs -q -i ID), not what it holds.
#include "stdstreams.h"

#include <cstdio>
#include <cstdlib>
#include <sys/msg.h>

namespace {

constexpr key_t queue_key = 0x12345;

} // namespace

int main()
{
    const int msqid = msgget(queue_key, 0); // open only: never create
    if (msqid < 0) {
        perror("msgget");
        exit(1);
    }

    msqid_ds info{};
    if (msgctl(msqid, IPC_STAT, &info) < 0) {
        perror("msgctl");
        exit(1);
    }

    printf("uid:%d\n", static_cast<int>(info.msg_perm.uid));
    printf("gid:%d\n", static_cast<int>(info.msg_perm.gid));
    printf("cuid:%d\n", static_cast<int>(info.msg_perm.cuid));
    printf("cgid:%d\n", static_cast<int>(info.msg_perm.cgid));
    printf("mode:%o\n", static_cast<unsigned>(info.msg_perm.mode));
    // The byte limit is an unsigned long in both 32- and 64-bit builds (4 and 8 bytes); a
    // privileged user may raise it past the largest int, so it is not narrowed for printing.
    printf("size:%lu\n", info.msg_qbytes);
    report_lost_output(); // lines that never reached standard output are a failure
    exit(0);
}

// attrmark: set a file's attribute word with one ioctl request and report the two attributes.
//
// Run:   ./attrmark some-file && lsattr some-file
// Watch: "SYNC flag set" and "NODUMP flag set"; lsattr then shows S (synchronous updates) and
//        d (no dump). The word is the file's whole new attribute set, not two bits added to the
//        old one. Filesystems without attributes refuse: "ioctl: Operation not supported".
//        A line that cannot be written (standard output closed, or a full device) is reported
//        on standard error as "output error", with status 1.
#include "stdstreams.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    fill_std_fds(); // before the file: it must not take the number of a closed stream
    atexit(report_lost_output);

    if (argc != 2) {
        puts("USAGE: attrmark {filename}");
        exit(1);
    }

    const int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        perror("open");
        exit(1);
    }

    int attr = FS_SYNC_FL | FS_NODUMP_FL; // 0x48: the complete new set, nothing else
    if (ioctl(fd, FS_IOC_SETFLAGS, &attr) != 0) {
        perror("ioctl"); // before close, so that it reports the request's own error
        close(fd);
        exit(1);
    }

    if (attr & FS_SYNC_FL)
        puts("SYNC flag set");
    if (attr & FS_NODUMP_FL)
        puts("NODUMP flag set");

    close(fd);
    exit(0);
}

// client: connect to the server without blocking, wait with select() until the attempt has
// finished, read its outcome from the socket's pending error, and send a 10-byte greeting.
//
// Run:   ./client          (with ./server running in another terminal)
// Watch: "connect: Operation now in progress" on standard error: the connect call returned at
//        once. "error:Success" on standard output: the pending error was 0, so the greeting
//        "TCP TEST\n" and its terminating zero byte went out. With no server: "error:Connection
//        refused" and status 1. A connect that fails at once (no route, say) is reported the
//        same way, with its own error. A line that cannot be written (standard output closed,
//        or a full device) is reported on standard error as "output error", with status 1.
#include "stdstreams.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr const char *server_address = "127.0.0.1";
constexpr in_port_t server_port = 5678;
constexpr std::size_t greeting_size = 10;

// Lines already printed come before the message, as they happened; the flush must not change the
// error being reported (a lost line is reported at exit, by report_lost_output).
[[noreturn]] void fail(const char *what)
{
    const int err = errno;
    fflush(stdout);
    errno = err;
    perror(what);
    exit(1);
}

} // namespace

int main()
{
    fill_std_fds(); // before the socket: it must not take the number of a closed stream
    atexit(report_lost_output);

    std::array<char, greeting_size> greeting{};
    memcpy(greeting.data(), "TCP TEST\n", greeting.size()); // nine characters and a zero byte

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr(server_address);
    addr.sin_port = htons(server_port);

    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0)
        fail("socket");
    if (sock >= FD_SETSIZE) { // FD_SET would write past the end of the set
        fprintf(stderr, "socket: descriptor %d does not fit the descriptor set\n", sock);
        exit(1);
    }

    int val = 1; // first the non-blocking switch, later the pending error
    ioctl(sock, FIONBIO, &val);

    const int connected = connect(sock, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
    const int connect_errno = errno;
    perror("connect"); // what the call left: normally that the attempt is under way
    if (connected < 0 && connect_errno != EINPROGRESS) {
        // Failed at once: the socket's pending error is 0 then, and the socket unconnected.
        printf("error:%s\n", strerror(connect_errno));
        exit(1);
    }

    fd_set wset;
    FD_ZERO(&wset);
    FD_SET(sock, &wset);
    // Writable means the attempt has finished, one way or the other.
    if (select(sock + 1, nullptr, &wset, nullptr, nullptr) < 0)
        fail("select");

    if (FD_ISSET(sock, &wset)) {
        socklen_t len = sizeof val;
        if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &val, &len) < 0)
            fail("getsockopt");
        printf("error:%s\n", strerror(val));
        if (val != 0)
            exit(1); // the connection failed; nothing is sent

        // MSG_NOSIGNAL: a peer that has gone gives an error here, not a SIGPIPE that kills us.
        if (send(sock, greeting.data(), greeting.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(greeting.size()))
            fail("send");
    }
    return 0;
}

// server: one process, one thread, many TCP clients, all served from a single select() loop.
//
// Run:   ./server          (then, in another terminal:  ./client)
// Watch: "bind: Success" on standard error, then one line per new connection, the data each
//        client sends after "read:" (at most 256 bytes a read), and "connection closed" when a
//        client goes. Redirected to a file or pipe, standard output is block-buffered: the
//        lines show only when the buffer fills, and an interrupt discards what it still holds.
//        Started with standard output or error closed, it serves on and what it prints is lost.
#include "stdstreams.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr const char *listen_address = "127.0.0.1";
constexpr in_port_t listen_port = 5678;
constexpr int backlog = 5;
constexpr std::size_t chunk_size = 256; // bytes taken from one client in one read

// While accept finds no free descriptor the listener is left out of select, and watched again
// this long after: a descriptor may be freed by any process, not only by a connection of ours
// closing.
constexpr std::chrono::seconds listener_retry_time{1};
using retry_clock = std::chrono::steady_clock;

// Building with SERVER_SCAN_WHOLE_TABLE scans every descriptor number of the table (as far as a
// set can hold) on each pass, instead of stopping at the highest one in use; the benchmark
// compares the two.
#ifdef SERVER_SCAN_WHOLE_TABLE
constexpr bool scan_whole_table = true;
#else
constexpr bool scan_whole_table = false;
#endif

// The watched descriptors, and what select and the scan need to know about them.
struct watch_list {
    fd_set master;   // the listening socket (while accepting) and every open connection
    int listener;    // the listening socket
    int highest;     // the highest descriptor in master
    bool out_of_fds; // accept found no free descriptor: listener unwatched for a while
    bool reported;   // this shortage of descriptors has been reported: once is enough
    retry_clock::time_point retry_at; // when to watch the listener again, while out_of_fds
};

[[noreturn]] void fail(const char *what)
{
    fflush(stdout);
    perror(what);
    exit(1);
}

int scan_bound(const watch_list &w)
{
    // The table's size now, not at start: the descriptor limit may change while we run.
    return scan_whole_table ? std::min(getdtablesize(), FD_SETSIZE) : w.highest + 1;
}

void forget(watch_list &w, int fd)
{
    FD_CLR(fd, &w.master);
    while (w.highest > 0 && !FD_ISSET(w.highest, &w.master))
        --w.highest;
}

void watch(watch_list &w, int fd)
{
    FD_SET(fd, &w.master);
    w.highest = std::max(w.highest, fd);
}

// How long select may wait before the listener is due to be watched again (never negative).
timeval time_to_retry(const watch_list &w)
{
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    const auto left =
        std::max(duration_cast<microseconds>(w.retry_at - retry_clock::now()), microseconds{0});
    const auto seconds = duration_cast<std::chrono::seconds>(left);
    return timeval{.tv_sec = static_cast<time_t>(seconds.count()),
                   .tv_usec = static_cast<suseconds_t>((left - seconds).count())};
}

void watch_listener_again(watch_list &w)
{
    watch(w, w.listener);
    w.out_of_fds = false;
}

// Wait in select until watched descriptors are ready, and return how many; a signal that
// interrupts the wait is no failure. While the listener is unwatched, select also wakes when it
// is due to be watched again.
int wait_for_ready(watch_list &w, fd_set &ready)
{
    int nready = 0;
    do {
        ready = w.master; // select overwrites its argument
        timeval retry = time_to_retry(w);
        nready = select(scan_bound(w), &ready, nullptr, nullptr, w.out_of_fds ? &retry : nullptr);
    } while (nready < 0 && errno == EINTR);
    if (nready < 0)
        fail("select");
    // Due at a fixed time, so that clients that keep sending cannot put it off. Maybe
    // descriptors were freed elsewhere meanwhile.
    if (w.out_of_fds && retry_clock::now() >= w.retry_at)
        watch_listener_again(w);
    return nready;
}

// Accept one waiting connection and start watching it.
void accept_client(watch_list &w)
{
    sockaddr_in peer{};
    socklen_t peer_len = sizeof peer;
    const int conn = accept(w.listener, reinterpret_cast<sockaddr *>(&peer), &peer_len);
    if (conn < 0) {
        if (errno == EMFILE || errno == ENFILE) {
            // The connection stays queued and the listener stays readable: watching it now
            // would spin. Wait until a connection closes or the retry time is up.
            if (!w.reported)
                perror("accept");
            w.reported = true;
            forget(w, w.listener);
            w.out_of_fds = true;
            w.retry_at = retry_clock::now() + listener_retry_time;
        } else if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
            perror("accept");
        }
        return;
    }
    w.reported = false; // the shortage, if there was one, is over
    // Any descriptor accept returns fits the process table, but maybe not a set.
    if (conn >= FD_SETSIZE) {
        fprintf(stderr, "connection refused: descriptor %d does not fit the watched set\n", conn);
        close(conn);
        return;
    }
    printf("net connection from %s:%d\n", inet_ntoa(peer.sin_addr), ntohs(peer.sin_port));
    watch(w, conn); // first read after the next select
}

// One read of at most chunk_size bytes; end of stream and errors alike close the connection.
void serve_client(watch_list &w, int fd)
{
    std::array<char, chunk_size + 1> buf{};
    const ssize_t nbytes = read(fd, buf.data(), chunk_size);
    if (nbytes > 0) {
        buf[static_cast<std::size_t>(nbytes)] = '\0';
        printf("read:%s", buf.data()); // stops at a zero byte in the data
        return;
    }
    printf("connection closed\n");
    forget(w, fd);
    close(fd);
    if (w.out_of_fds) // a descriptor is free again: take the next waiting client
        watch_listener_again(w);
}

} // namespace

int main()
{
    fill_std_fds(); // before the listener: no socket may take the number of a closed stream

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr(listen_address);
    addr.sin_port = htons(listen_port);

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0)
        fail("socket");

    const int reuse = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);

    const int bound = bind(listener, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
    perror("bind"); // printed whatever the result: "bind: Success" when it worked
    if (bound < 0)
        exit(1); // unbound, listen would pick a random port on every interface

    if (listen(listener, backlog) < 0)
        fail("listen");

    watch_list w{};
    FD_ZERO(&w.master);
    w.listener = listener;
    watch(w, listener);

    for (;;) {
        fd_set ready;
        if (wait_for_ready(w, ready) == 0)
            continue; // only the time to watch the listener again

        if (FD_ISSET(listener, &ready)) {
            accept_client(w);
            FD_CLR(listener, &ready); // the scan below reads clients only
        }

        // Ascending order: on one pass each ready client gets one read, lowest number first.
        const int scan_end = scan_bound(w);
        for (int fd = 0; fd < scan_end; ++fd)
            if (FD_ISSET(fd, &ready))
                serve_client(w, fd);
    }
}

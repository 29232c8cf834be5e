// netload: a load generator for a TCP listener on 127.0.0.1:5678, for benchmarks and tests.
//
//   netload hold N [SECONDS]  open N connections, a few at a time, report how many the
//                             listener still holds after a moment, then keep them SECONDS
//                             (default 0) before closing them all
//   netload send N TEXT       open N connections at once (no pacing: some may have to wait
//                             for the listener), send TEXT on each, close each sending side,
//                             and wait until the listener has closed them all; report how
//                             many it closed and how many the kernel reset
//   netload stream C BYTES    C connections each send BYTES of printable data; report MB/s
//   netload rate K            K short connections in a row, each sending a 10-byte greeting
//                             and waiting for the listener to close it; report connections/s
//   netload reset N           open N connections and reset each one (RST instead of FIN)
//
// Every wait is bounded. With a backlog of 5, a burst of connections would overflow the
// listener's accept queue and the kernel's SYN retransmission timers (1 s, 3 s, 7 s) would be
// measured instead of the listener, so the paced modes keep the accept queue nearly empty by
// watching its length in /proc/net/tcp before each connect.
#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char *target_address = "127.0.0.1";
constexpr in_port_t target_port = 5678;
constexpr int queue_allowance = 2; // connections left waiting for accept
constexpr auto queue_wait_limit = std::chrono::seconds(1);
constexpr auto connect_limit = std::chrono::milliseconds(2000);
constexpr int max_failures_in_a_row = 3;
constexpr auto settle_time = std::chrono::milliseconds(1000);
constexpr int close_wait_ms = 60000; // longest wait for the listener to close
constexpr std::array<char, 10> greeting = {'T', 'C', 'P', ' ', 'T', 'E', 'S', 'T', '\n', '\0'};

using clock_type = std::chrono::steady_clock;

[[noreturn]] void die(const char *what)
{
    perror(what);
    exit(1);
}

[[noreturn]] void usage()
{
    fputs("usage: netload hold N [SECONDS] | send N TEXT | stream C BYTES | rate K | reset N\n",
          stderr);
    exit(2);
}

long number(const char *text)
{
    char *end = nullptr;
    const long value = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 0)
        usage();
    return value;
}

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

void raise_descriptor_limit()
{
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
}

// Connections the listener on the target port has not accepted yet (the rx_queue column of its
// LISTEN line in /proc/net/tcp), or 0 when that cannot be read.
int accept_queue_length()
{
    std::ifstream table("/proc/net/tcp");
    std::array<char, 16> local{};
    // The kernel prints the address as the raw network-order word, read as a host integer.
    snprintf(local.data(), local.size(), "%08X:%04X", inet_addr(target_address), target_port);
    std::string line;
    std::getline(table, line); // heading
    while (std::getline(table, line)) {
        unsigned slot = 0;
        unsigned state = 0;
        unsigned txq = 0;
        unsigned rxq = 0;
        std::array<char, 64> loc{};
        std::array<char, 64> rem{};
        // NOLINTNEXTLINE(cert-err34-c): the kernel writes this table; a short line fails the count
        if (sscanf(line.c_str(), " %u: %63s %63s %X %X:%X", &slot, loc.data(), rem.data(), &state,
                   &txq, &rxq) == 6 &&
            state == 0x0A && strcmp(loc.data(), local.data()) == 0)
            return static_cast<int>(rxq);
    }
    return 0;
}

void wait_for_room_in_accept_queue()
{
    const auto start = clock_type::now();
    while (accept_queue_length() > queue_allowance && clock_type::now() - start < queue_wait_limit)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

sockaddr_in target()
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr(target_address);
    addr.sin_port = htons(target_port);
    return addr;
}

int connect_blocking()
{
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0)
        die("socket");
    const sockaddr_in addr = target();
    if (connect(sock, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) < 0)
        die("connect");
    return sock;
}

int connect_paced()
{
    wait_for_room_in_accept_queue();
    return connect_blocking();
}

void write_all(int sock, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = write(sock, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            die("write");
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

enum class ending : std::uint8_t { closed, reset, timed_out };

// Read (and drop) until the listener closes the connection, or the kernel resets it.
ending wait_for_close(int sock, int timeout_ms)
{
    pollfd p{.fd = sock, .events = POLLIN, .revents = 0};
    std::array<char, 512> sink{};
    for (;;) {
        if (poll(&p, 1, timeout_ms) <= 0)
            return ending::timed_out;
        const ssize_t n = read(sock, sink.data(), sink.size());
        if (n == 0)
            return ending::closed;
        if (n < 0)
            return ending::reset;
    }
}

// Still open from the listener's side: no end of stream and no error waiting.
bool still_open(int sock)
{
    char byte = 0;
    const ssize_t n = recv(sock, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

// A paced connect that gives up when the listener does not take the connection in time.
int connect_within(std::chrono::milliseconds limit)
{
    wait_for_room_in_accept_queue();
    const int sock = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (sock < 0)
        die("socket");
    const sockaddr_in addr = target();
    if (connect(sock, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0)
        return sock;
    pollfd p{.fd = sock, .events = POLLOUT, .revents = 0};
    int err = errno;
    if (err == EINPROGRESS && poll(&p, 1, static_cast<int>(limit.count())) == 1) {
        socklen_t len = sizeof err;
        getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err == 0)
            return sock;
    }
    close(sock);
    return -1;
}

int hold(long count, long seconds)
{
    std::vector<int> socks;
    int failures_in_a_row = 0;
    // A listener that stops accepting (out of descriptors, at its own cap) ends the attempt.
    for (long i = 0; i < count && failures_in_a_row < max_failures_in_a_row; ++i) {
        const int sock = connect_within(connect_limit);
        if (sock < 0) {
            ++failures_in_a_row;
            continue;
        }
        failures_in_a_row = 0;
        socks.push_back(sock);
    }
    std::this_thread::sleep_for(settle_time); // the listener closes what it cannot keep
    long open = 0;
    for (const int sock : socks)
        open += still_open(sock) ? 1 : 0;
    printf("held %ld of %ld\n", open, count);
    fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (const int sock : socks)
        close(sock);
    return 0;
}

int send_text(long count, const std::string &text)
{
    std::vector<pollfd> pending;
    const sockaddr_in addr = target();
    for (long i = 0; i < count; ++i) {
        const int sock = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (sock < 0)
            die("socket");
        if (connect(sock, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) < 0 &&
            errno != EINPROGRESS)
            die("connect");
        pending.push_back({.fd = sock, .events = POLLOUT, .revents = 0});
    }

    long sent = 0;
    long closed = 0;
    long reset = 0;
    const auto start = clock_type::now();
    // First every connection must finish its handshake; then each one is sent its text.
    while (!pending.empty() && seconds_since(start) * 1000 < close_wait_ms) {
        if (poll(pending.data(), pending.size(), 100) < 0 && errno != EINTR)
            die("poll");
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->revents == 0) {
                ++it;
                continue;
            }
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(it->fd, SOL_SOCKET, SO_ERROR, &err, &len);
            if (err == 0) {
                fcntl(it->fd, F_SETFL, fcntl(it->fd, F_GETFL) & ~O_NONBLOCK);
                write_all(it->fd, text.data(), text.size());
                ++sent;
                shutdown(it->fd, SHUT_WR);
                // A reset here is the kernel's doing: with SYN cookies, a handshake that the
                // full accept queue dropped is refused when the client's data arrives.
                const ending how = wait_for_close(it->fd, close_wait_ms);
                closed += how == ending::closed ? 1 : 0;
                reset += how == ending::reset ? 1 : 0;
            }
            close(it->fd);
            it = pending.erase(it);
        }
    }
    printf("sent %ld of %ld, closed by the listener %ld, reset %ld\n", sent, count, closed, reset);
    return sent == count && closed + reset == count ? 0 : 1;
}

int stream(long count, long bytes)
{
    std::vector<char> data(std::size_t{64} * 1024);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>('a' + (i % 26)); // printable, no zero byte

    std::vector<int> socks;
    socks.reserve(static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i)
        socks.push_back(connect_paced());

    const auto start = clock_type::now();
    // One thread per connection: each writes its share with blocking writes.
    std::vector<std::thread> writers;
    writers.reserve(socks.size());
    for (const int sock : socks)
        writers.emplace_back([sock, bytes, &data] {
            long left = bytes;
            while (left > 0) {
                const std::size_t n =
                    static_cast<std::size_t>(std::min<long>(left, static_cast<long>(data.size())));
                write_all(sock, data.data(), n);
                left -= static_cast<long>(n);
            }
            shutdown(sock, SHUT_WR);
            wait_for_close(sock, close_wait_ms); // the listener has read everything
        });
    for (auto &t : writers)
        t.join();
    const double elapsed = seconds_since(start);
    for (const int sock : socks)
        close(sock);
    const double total = static_cast<double>(count) * static_cast<double>(bytes);
    printf("streamed %.0f bytes in %.3f s: %.2f MB/s\n", total, elapsed, total / elapsed / 1e6);
    return 0;
}

int rate(long count)
{
    const auto start = clock_type::now();
    long done = 0;
    for (long i = 0; i < count; ++i) {
        const int sock = connect_paced();
        write_all(sock, greeting.data(), greeting.size());
        shutdown(sock, SHUT_WR);
        done += wait_for_close(sock, close_wait_ms) == ending::closed ? 1 : 0;
        close(sock);
    }
    const double elapsed = seconds_since(start);
    printf("connections %ld in %.3f s: %.1f per second\n", done, elapsed,
           static_cast<double>(done) / elapsed);
    return done == count ? 0 : 1;
}

int reset(long count)
{
    for (long i = 0; i < count; ++i) {
        const int sock = connect_paced();
        const linger abort_on_close{.l_onoff = 1, .l_linger = 0};
        setsockopt(sock, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
        close(sock); // sends RST
    }
    printf("reset %ld\n", count);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3)
        usage();
    raise_descriptor_limit();
    const std::string mode = argv[1];
    const long n = number(argv[2]);
    if (mode == "hold" && argc <= 4)
        return hold(n, argc == 4 ? number(argv[3]) : 0);
    if (mode == "send" && argc == 4)
        return send_text(n, argv[3]);
    if (mode == "stream" && argc == 4)
        return stream(n, number(argv[3]));
    if (mode == "rate" && argc == 3)
        return rate(n);
    if (mode == "reset" && argc == 3)
        return reset(n);
    usage();
}

// Error reporting routines: one line on standard error, then return, exit or abort.
#include "errlib.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char *pname = nullptr;

namespace {

constexpr std::size_t maxline = 4096;

// Compose the whole line in a buffer of this call's own, so that nothing is shared between
// calls (err_dump may run inside a signal handler), and write it with a single fputs.
[[gnu::format(printf, 2, 0)]] void err_doit(bool errnoflag, const char *fmt, va_list ap)
{
    const int errno_save = errno; // before any call below can change it
    std::array<char, maxline> buf{};

    // Bounded formatting: an over-long message is cut short; one byte is kept for the newline.
    vsnprintf(buf.data(), buf.size() - 1, fmt, ap);
    if (errnoflag) {
        const std::size_t used = strlen(buf.data());
        snprintf(buf.data() + used, buf.size() - 1 - used, ": %s", strerror(errno_save));
    }
    // NOLINTNEXTLINE(clang-analyzer-security.insecureAPI.strcpy): both writes above keep a byte
    strcat(buf.data(), "\n");

    fflush(stdout); // what the program printed comes out before the message
    fputs(buf.data(), stderr);
    fflush(nullptr);
}

} // namespace

// Nonfatal error related to a system call: message with the error text, then return.
void err_ret(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    err_doit(true, fmt, ap);
    va_end(ap);
}

// Fatal error related to a system call: message with the error text, then exit(1).
void err_sys(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    err_doit(true, fmt, ap);
    va_end(ap);
    exit(1);
}

// Fatal error related to a system call: message with the error text, then abort (core dump).
void err_dump(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    err_doit(true, fmt, ap);
    va_end(ap);
    abort();
}

// Nonfatal error unrelated to a system call: message only, then return.
void err_msg(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    err_doit(false, fmt, ap);
    va_end(ap);
}

// Fatal error unrelated to a system call: message only, then exit(1).
void err_quit(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    err_doit(false, fmt, ap);
    va_end(ap);
    exit(1);
}

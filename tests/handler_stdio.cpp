// Test helper, preloaded into catcher: each handler installed by sigaction, or by signal and the
// C library's other installers (which do not go through the sigaction symbol), runs inside a guard,
// and a standard I/O call made while a handler runs ends the program at once with status 70 and
// a line on standard error that names the call. Standard I/O is not async-signal-safe: a handler
// that uses it may deadlock or tear a line whenever the signal comes in the middle of another
// such call, so here it fails every time instead of now and then. The calls are caught by name
// (the whole printf family, the character and string writers, their unlocked and fortified
// forms); a handler that changes the state of standard output or standard error in any other
// way (an inline putc_unlocked, say) is caught when it returns.
#include <array>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string_view>
#include <unistd.h>

namespace {

using handler_function = void (*)(int);
using sigaction_function = int (*)(int, const struct sigaction *, struct sigaction *);
using installer_function = handler_function (*)(int, handler_function);

constexpr int guard_status = 70;

std::array<handler_function, NSIG> handlers{};
volatile sig_atomic_t in_handler = 0;

// What a standard I/O call on a stream changes: its buffer, its write position, its state.
struct stream_state {
    int flags;
    const char *buffer;
    const char *written_to;
    bool operator==(const stream_state &) const = default;
};

stream_state state_of(const FILE *stream)
{
    return {.flags = stream->_flags,
            .buffer = stream->_IO_buf_base,
            .written_to = stream->_IO_write_ptr};
}

void check(const char *call);

void guarded(int signo)
{
    const sig_atomic_t outer = in_handler; // a handler that interrupts another gives it back
    const stream_state out = state_of(stdout);
    const stream_state err = state_of(stderr);
    in_handler = 1;
    handlers.at(static_cast<size_t>(signo))(signo);
    if (!(state_of(stdout) == out))
        check("a call on stdout");
    if (!(state_of(stderr) == err))
        check("a call on stderr");
    in_handler = outer;
}

// The guard's message, piece by piece: nothing to do when it cannot be written, as the process
// ends next. (The result is held: fortified builds warn when write's is dropped, even cast away.)
void say(const char *text, size_t length)
{
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, text, length);
}

// Called at the start of every standard I/O routine below.
void check(const char *call)
{
    if (in_handler == 0)
        return;
    constexpr std::string_view prefix = "standard I/O inside a signal handler: ";
    say(prefix.data(), prefix.size());
    say(call, strlen(call));
    say("\n", 1);
    _exit(guard_status);
}

template <typename Function> Function next_definition(const char *name)
{
    void *found = dlsym(RTLD_NEXT, name);
    if (found == nullptr)
        _exit(127);
    return reinterpret_cast<Function>(found); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

} // namespace

// The C library's header names the parameters with reserved names, which we may not use.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int sigaction(int signo, const struct sigaction *act, struct sigaction *old) noexcept
{
    static const auto real_sigaction = next_definition<sigaction_function>("sigaction");
    if (act == nullptr || (act->sa_flags & SA_SIGINFO) != 0 || act->sa_handler == SIG_DFL ||
        act->sa_handler == SIG_IGN || signo <= 0 || signo >= NSIG)
        return real_sigaction(signo, act, old);
    struct sigaction wrapped = *act;
    handlers.at(static_cast<size_t>(signo)) = act->sa_handler;
    wrapped.sa_handler = guarded;
    return real_sigaction(signo, &wrapped, old);
}

namespace {

// Install a handler through installer real (signal and its kin) inside the guard; what the
// installer gives back as the handler before is the program's own, not the guard.
handler_function install_guarded(installer_function real, int signo, handler_function handler)
{
    if (handler == SIG_DFL || handler == SIG_IGN || handler == SIG_ERR || handler == SIG_HOLD ||
        signo <= 0 || signo >= NSIG)
        return real(signo, handler);
    handler_function &slot = handlers.at(static_cast<size_t>(signo));
    const handler_function before = slot;
    slot = handler;
    const handler_function result = real(signo, guarded);
    if (result == SIG_ERR)
        slot = before;
    return result == guarded ? before : result;
}

} // namespace

// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" handler_function signal(int signo, handler_function handler) noexcept
{
    static const auto real = next_definition<installer_function>("signal");
    return install_guarded(real, signo, handler);
}

extern "C" handler_function bsd_signal(int signo, handler_function handler) noexcept
{
    static const auto real = next_definition<installer_function>("bsd_signal");
    return install_guarded(real, signo, handler);
}

extern "C" handler_function ssignal(int signo, handler_function handler) noexcept
{
    static const auto real = next_definition<installer_function>("ssignal");
    return install_guarded(real, signo, handler);
}

extern "C" handler_function sysv_signal(int signo, handler_function handler) noexcept
{
    static const auto real = next_definition<installer_function>("sysv_signal");
    return install_guarded(real, signo, handler);
}

extern "C" handler_function __sysv_signal(int signo, handler_function handler) noexcept
{
    static const auto real = next_definition<installer_function>("__sysv_signal");
    return install_guarded(real, signo, handler);
}

extern "C" handler_function sigset(int signo, handler_function handler) noexcept
{
    static const auto real = next_definition<installer_function>("sigset");
    return install_guarded(real, signo, handler);
}
// NOLINTEND(readability-inconsistent-declaration-parameter-name,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

// Each routine checks, then does what it would have done, through its variadic-free sibling
// (the analyser takes va_start in a function named as the C library's for no va_start at all).
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name,cert-dcl50-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,clang-analyzer-valist.Uninitialized)
extern "C" int printf(const char *format, ...)
{
    check("printf");
    va_list args;
    va_start(args, format);
    const int result = vfprintf(stdout, format, args);
    va_end(args);
    return result;
}

extern "C" int fprintf(FILE *stream, const char *format, ...)
{
    check("fprintf");
    va_list args;
    va_start(args, format);
    const int result = vfprintf(stream, format, args);
    va_end(args);
    return result;
}

extern "C" int __printf_chk(int flag, const char *format, ...)
{
    static_cast<void>(flag); // the checking level of a fortified build: nothing to check here
    check("printf");
    va_list args;
    va_start(args, format);
    const int result = vfprintf(stdout, format, args);
    va_end(args);
    return result;
}

extern "C" int __fprintf_chk(FILE *stream, int flag, const char *format, ...)
{
    static_cast<void>(flag);
    check("fprintf");
    va_list args;
    va_start(args, format);
    const int result = vfprintf(stream, format, args);
    va_end(args);
    return result;
}

extern "C" int puts(const char *text)
{
    check("puts");
    static const auto real = next_definition<int (*)(const char *)>("puts");
    return real(text);
}

extern "C" int fputs(const char *text, FILE *stream)
{
    check("fputs");
    static const auto real = next_definition<int (*)(const char *, FILE *)>("fputs");
    return real(text, stream);
}

extern "C" size_t fwrite(const void *data, size_t size, size_t count, FILE *stream)
{
    check("fwrite");
    static const auto real =
        next_definition<size_t (*)(const void *, size_t, size_t, FILE *)>("fwrite");
    return real(data, size, count, stream);
}

extern "C" int fputc(int c, FILE *stream)
{
    check("fputc");
    static const auto real = next_definition<int (*)(int, FILE *)>("fputc");
    return real(c, stream);
}

extern "C" int putc(int c, FILE *stream)
{
    check("putc");
    static const auto real = next_definition<int (*)(int, FILE *)>("putc");
    return real(c, stream);
}

extern "C" int fflush(FILE *stream)
{
    check("fflush");
    static const auto real = next_definition<int (*)(FILE *)>("fflush");
    return real(stream);
}
extern "C" int vprintf(const char *format, va_list args)
{
    check("vprintf");
    return vfprintf(stdout, format, args);
}

extern "C" int vfprintf(FILE *stream, const char *format, va_list args)
{
    check("vfprintf");
    static const auto real = next_definition<int (*)(FILE *, const char *, va_list)>("vfprintf");
    return real(stream, format, args);
}

extern "C" int vdprintf(int fd, const char *format, va_list args)
{
    check("vdprintf");
    static const auto real = next_definition<int (*)(int, const char *, va_list)>("vdprintf");
    return real(fd, format, args);
}

extern "C" int dprintf(int fd, const char *format, ...)
{
    check("dprintf");
    va_list args;
    va_start(args, format);
    const int result = vdprintf(fd, format, args);
    va_end(args);
    return result;
}

extern "C" int __dprintf_chk(int fd, int flag, const char *format, ...)
{
    static_cast<void>(flag);
    check("dprintf");
    va_list args;
    va_start(args, format);
    const int result = vdprintf(fd, format, args);
    va_end(args);
    return result;
}

extern "C" int vsnprintf(char *text, size_t size, const char *format, va_list args)
{
    check("vsnprintf");
    static const auto real =
        next_definition<int (*)(char *, size_t, const char *, va_list)>("vsnprintf");
    return real(text, size, format, args);
}

extern "C" int snprintf(char *text, size_t size, const char *format, ...)
{
    check("snprintf");
    va_list args;
    va_start(args, format);
    const int result = vsnprintf(text, size, format, args);
    va_end(args);
    return result;
}

extern "C" int __snprintf_chk(char *text, size_t size, int flag, size_t room, const char *format,
                              ...)
{
    static_cast<void>(flag);
    static_cast<void>(room);
    check("snprintf");
    va_list args;
    va_start(args, format);
    const int result = vsnprintf(text, size, format, args);
    va_end(args);
    return result;
}

extern "C" int sprintf(char *text, const char *format, ...)
{
    check("sprintf");
    va_list args;
    va_start(args, format);
    const int result = vsprintf(text, format, args);
    va_end(args);
    return result;
}

extern "C" int __sprintf_chk(char *text, int flag, size_t room, const char *format, ...)
{
    static_cast<void>(flag);
    static_cast<void>(room);
    check("sprintf");
    va_list args;
    va_start(args, format);
    const int result = vsprintf(text, format, args);
    va_end(args);
    return result;
}

extern "C" int putchar(int c)
{
    check("putchar");
    static const auto real = next_definition<int (*)(int)>("putchar");
    return real(c);
}

extern "C" int putchar_unlocked(int c)
{
    check("putchar_unlocked");
    static const auto real = next_definition<int (*)(int)>("putchar_unlocked");
    return real(c);
}

extern "C" int fputc_unlocked(int c, FILE *stream)
{
    check("fputc_unlocked");
    static const auto real = next_definition<int (*)(int, FILE *)>("fputc_unlocked");
    return real(c, stream);
}

extern "C" int fputs_unlocked(const char *text, FILE *stream)
{
    check("fputs_unlocked");
    static const auto real = next_definition<int (*)(const char *, FILE *)>("fputs_unlocked");
    return real(text, stream);
}

extern "C" size_t fwrite_unlocked(const void *data, size_t size, size_t count, FILE *stream)
{
    check("fwrite_unlocked");
    static const auto real =
        next_definition<size_t (*)(const void *, size_t, size_t, FILE *)>("fwrite_unlocked");
    return real(data, size, count, stream);
}

extern "C" void perror(const char *text)
{
    check("perror");
    static const auto real = next_definition<void (*)(const char *)>("perror");
    real(text);
}

extern "C" void psignal(int signo, const char *text)
{
    check("psignal");
    static const auto real = next_definition<void (*)(int, const char *)>("psignal");
    real(signo, text);
}
// NOLINTEND(readability-inconsistent-declaration-parameter-name,cert-dcl50-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,clang-analyzer-valist.Uninitialized)

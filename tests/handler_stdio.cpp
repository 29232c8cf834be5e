// Test helper, preloaded into catcher: each handler installed by sigaction runs inside a guard,
// and a standard I/O call made while a handler runs ends the program at once with status 70 and
// a line on standard error that names the call. Standard I/O is not async-signal-safe: a handler
// that uses it may deadlock or tear a line whenever the signal comes in the middle of another
// such call, so here it fails every time instead of now and then.
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

constexpr int guard_status = 70;

std::array<handler_function, NSIG> handlers{};
volatile sig_atomic_t in_handler = 0;

void guarded(int signo)
{
    const sig_atomic_t outer = in_handler; // a handler that interrupts another gives it back
    in_handler = 1;
    handlers.at(static_cast<size_t>(signo))(signo);
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
// NOLINTEND(readability-inconsistent-declaration-parameter-name,cert-dcl50-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,clang-analyzer-valist.Uninitialized)

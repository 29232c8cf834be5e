// Tests of the error routines and the descriptor-flag helpers.
#include "errlib.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

int open_tmp(int extra_flags)
{
    std::string path = "/tmp/errlib_test.XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0)
        return fd;
    unlink(path.c_str());
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | extra_flags);
    return fd;
}

// Run fn with descriptor fd sent to a fresh temporary file and return what was written there.
template <typename F> std::string capture(int fd, F fn)
{
    const int tmp = open_tmp(0);
    if (tmp < 0) {
        ADD_FAILURE() << "temporary file: " << strerror(errno);
        return {};
    }
    fflush(nullptr);
    const int saved = dup(fd);
    if (saved < 0) {
        ADD_FAILURE() << "dup: " << strerror(errno);
        close(tmp);
        return {};
    }
    dup2(tmp, fd);
    fn();
    fflush(nullptr);
    dup2(saved, fd);
    close(saved);

    std::string out;
    std::array<char, 512> chunk{};
    for (;;) {
        const ssize_t n = pread(tmp, chunk.data(), chunk.size(), static_cast<off_t>(out.size()));
        if (n < 0)
            ADD_FAILURE() << "reading the captured output: " << strerror(errno);
        if (n <= 0)
            break;
        out.append(chunk.data(), static_cast<std::size_t>(n));
    }
    close(tmp);
    return out;
}

std::string error_text(int err)
{
    return strerror(err);
}

void no_core_dump()
{
    const rlimit none{.rlim_cur = 0, .rlim_max = 0};
    setrlimit(RLIMIT_CORE, &none);
}

} // namespace

TEST(ReturningRoutines, ErrRetAppendsTheErrorTextAndReturns)
{
    const std::string out = capture(STDERR_FILENO, [] {
        errno = ENOENT;
        err_ret("open %s", "missing");
    });
    EXPECT_EQ(out, "open missing: " + error_text(ENOENT) + "\n");
}

TEST(ReturningRoutines, ErrRetWithErrnoZeroUsesItsText)
{
    const std::string out = capture(STDERR_FILENO, [] {
        errno = 0;
        err_ret("nothing wrong");
    });
    EXPECT_EQ(out, "nothing wrong: Success\n");
}

TEST(ReturningRoutines, ErrMsgWritesTheTextAloneAndKeepsErrno)
{
    int after = 0;
    const std::string out = capture(STDERR_FILENO, [&after] {
        errno = EACCES;
        err_msg("count %d", 3);
        after = errno;
    });
    EXPECT_EQ(out, "count 3\n");
    EXPECT_EQ(after, EACCES);
}

TEST(ReturningRoutines, ALongMessageIsCutShortAndStillEndsTheLine)
{
    const std::string huge(10000, 'x');
    const std::string out = capture(STDERR_FILENO, [&huge] {
        errno = EIO;
        err_ret("%s", huge.c_str());
    });
    ASSERT_EQ(out.size(), 4095U);
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(out.find_first_not_of('x'), out.size() - 1);
}

TEST(ReturningRoutines, AMessageThatFitsAlmostExactlyKeepsAsMuchOfTheErrorTextAsFits)
{
    const std::string text(4091, 'y');
    const std::string out = capture(STDERR_FILENO, [&text] {
        errno = EIO;
        err_ret("%s", text.c_str());
    });
    ASSERT_EQ(out.size(), 4095U);
    EXPECT_EQ(out.compare(0, text.size(), text), 0);
    EXPECT_EQ(out.substr(text.size()), ": I\n");
}

TEST(ReturningRoutines, StandardOutputComesOutBeforeTheMessage)
{
    // Both streams on one file: stdout is fully buffered there, so only the routine's flush
    // puts its text ahead of the message.
    const std::string out = capture(STDERR_FILENO, [] {
        fflush(stdout);
        const int saved = dup(STDOUT_FILENO);
        if (saved < 0) {
            ADD_FAILURE() << "dup: " << strerror(errno);
            return;
        }
        dup2(STDERR_FILENO, STDOUT_FILENO);
        fputs("before ", stdout);
        err_msg("message");
        fputs("after\n", stdout);
        fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
    });
    EXPECT_EQ(out, "before message\nafter\n");
}

TEST(ExitingRoutinesDeathTest, TheCallersErrorIsReportedEvenWhenFlushingStandardOutputFails)
{
    // Output still buffered for a full device: the routine's own flush fails with ENOSPC,
    // which must not take the place of the error the caller is reporting.
    EXPECT_EXIT(
        {
            const int full = open("/dev/full", O_WRONLY);
            if (full < 0) {
                perror("/dev/full");
                _exit(2);
            }
            dup2(full, STDOUT_FILENO);
            setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
            fputs("pending output", stdout);
            errno = ENOENT;
            err_ret("open missing");
            _exit(0);
        },
        testing::ExitedWithCode(0), "^open missing: No such file or directory\n$");
}

TEST(ExitingRoutinesDeathTest, ErrSysExitsWithStatusOne)
{
    EXPECT_EXIT(
        {
            errno = EBADF;
            err_sys("fork error");
        },
        testing::ExitedWithCode(1), "^fork error: Bad file descriptor\n$");
}

TEST(ExitingRoutinesDeathTest, ErrQuitExitsWithStatusOneAndNoErrorText)
{
    EXPECT_EXIT(
        {
            errno = EBADF;
            err_quit("command-line argument required");
        },
        testing::ExitedWithCode(1), "^command-line argument required\n$");
}

TEST(ExitingRoutinesDeathTest, ErrSysRunsExitHandlersAfterItsMessage)
{
    EXPECT_EXIT(
        {
            atexit([] {
                fputs("handler ran\n", stderr);
            });
            errno = EIO;
            err_sys("failing");
        },
        testing::ExitedWithCode(1), "^failing: Input/output error\nhandler ran\n$");
}

TEST(ExitingRoutinesDeathTest, ErrDumpAbortsAfterALineBreakInTheFormat)
{
    EXPECT_EXIT(
        {
            no_core_dump();
            errno = 0;
            err_dump("received signal %d\n", 3);
        },
        testing::KilledBySignal(SIGABRT), "^received signal 3\n: Success\n$");
}

TEST(ExitingRoutinesDeathTest, StandardOutputPrecedesTheMessageOnExit)
{
    // Child: both streams on one file, some buffered output, then a fatal message.
    const int fd = open_tmp(0);
    ASSERT_GE(fd, 0);
    EXPECT_EXIT(
        {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            fputs("done so far\n", stdout);
            err_quit("then this");
        },
        testing::ExitedWithCode(1), "");
    std::array<char, 128> got{};
    const ssize_t n = pread(fd, got.data(), got.size() - 1, 0);
    close(fd);
    EXPECT_EQ(std::string(got.data(), n > 0 ? static_cast<std::size_t>(n) : 0),
              "done so far\nthen this\n");
}

TEST(FlagHelpers, SetAndClearKeepOtherFlags)
{
    const int fd = open_tmp(O_APPEND);
    set_fl(fd, O_NONBLOCK);
    EXPECT_EQ(fcntl(fd, F_GETFL) & (O_APPEND | O_NONBLOCK), O_APPEND | O_NONBLOCK);
    clr_fl(fd, O_NONBLOCK);
    EXPECT_EQ(fcntl(fd, F_GETFL) & (O_APPEND | O_NONBLOCK), O_APPEND);
    close(fd);
}

TEST(FlagHelpers, AreIdempotent)
{
    const int fd = open_tmp(0);
    set_fl(fd, O_NONBLOCK);
    const int once = fcntl(fd, F_GETFL);
    set_fl(fd, O_NONBLOCK);
    EXPECT_EQ(fcntl(fd, F_GETFL), once);

    clr_fl(fd, O_NONBLOCK);
    const int cleared = fcntl(fd, F_GETFL);
    clr_fl(fd, O_NONBLOCK);
    EXPECT_EQ(fcntl(fd, F_GETFL), cleared);
    EXPECT_EQ(cleared & O_NONBLOCK, 0);
    close(fd);
}

TEST(FlagHelpersDeathTest, FailOnAClosedDescriptor)
{
    const int fd = open_tmp(0);
    close(fd);
    EXPECT_EXIT(set_fl(fd, O_NONBLOCK), testing::ExitedWithCode(1),
                "^fcntl F_GETFL error: Bad file descriptor\n$");
    EXPECT_EXIT(clr_fl(fd, O_NONBLOCK), testing::ExitedWithCode(1),
                "^fcntl F_GETFL error: Bad file descriptor\n$");
}

// practice_launch: stands in the judged programs' folder in place of each of a learner's
// programs, and runs the program itself in its place (no process stays between them, so what
// the program reports of itself is its own). Before that it closes every descriptor above 2:
// the test runner's own streams are not the program's to write.
//
// Run:   copied as <folder>/NAME, it runs <folder>/.programs/NAME with the same arguments.
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr const char *programs_folder = ".programs/";
constexpr int cannot_run_status = 127; // as a shell says it of a command it cannot run

[[noreturn]] void fail(const char *what)
{
    fprintf(stderr, "practice_launch: %s: %s\n", what, strerror(errno));
    _exit(cannot_run_status);
}

} // namespace

int main(int /*argc*/, char *argv[])
{
    std::array<char, PATH_MAX> self{};
    const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (length < 0)
        fail("/proc/self/exe");
    std::string path(self.data(), static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    path.insert(slash + 1, programs_folder);
    if (close_range(3, ~0U, 0) < 0)
        fail("close_range");
    execv(path.c_str(), argv);
    fail(path.c_str());
}

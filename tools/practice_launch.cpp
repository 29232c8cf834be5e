// practice_launch: stands in the judged programs' folder in place of each of a learner's
// programs, and runs the program itself in its place (no process stays between them, so what
// the program reports of itself is its own). Before that it closes every descriptor above 2:
// the test runner's own streams are not the program's to write; and it removes the test runner's
// own variables from the environment, so that a program cannot tell it is being judged. What a
// test sets for the program itself (a preloaded stand-in, the mark that finds its processes) stays.
//
// Run:   copied as <folder>/NAME, it runs <folder>/.programs/NAME with the same arguments.
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char *programs_folder = ".programs/";
constexpr int cannot_run_status = 127; // as a shell says it of a command it cannot run

// The test runner's variables, and the settings the runner gives the tests, by name or prefix.
constexpr std::array runner_prefixes{"BATS_"};
constexpr std::array runner_names{"SYSZOO_BIN",        "SYSZOO_ROOT", "SYSZOO_TOOLS",
                                  "SYSZOO_BENCH",      "SYSZOO_ARCH", "SYSZOO_BUILD_INFO",
                                  "SYSZOO_PRIVATE_IPC"};

[[noreturn]] void fail(const char *what)
{
    fprintf(stderr, "practice_launch: %s: %s\n", what, strerror(errno));
    _exit(cannot_run_status);
}

bool is_runners(std::string_view name)
{
    return std::ranges::any_of(runner_prefixes,
                               [name](std::string_view prefix) {
                                   return name.starts_with(prefix);
                               }) ||
           std::ranges::any_of(runner_names, [name](std::string_view runner) {
               return name == runner;
           });
}

void remove_runner_variables()
{
    std::vector<std::string> names; // collected first: unsetenv changes environ
    for (char **entry = environ; *entry != nullptr; entry++) {
        const std::string_view variable(*entry);
        const std::string_view name = variable.substr(0, variable.find('='));
        if (is_runners(name))
            names.emplace_back(name);
    }
    for (const std::string &name : names)
        if (unsetenv(name.c_str()) < 0)
            fail(name.c_str());
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
    remove_runner_variables();
    execv(path.c_str(), argv);
    fail(path.c_str());
}

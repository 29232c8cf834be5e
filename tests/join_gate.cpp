// Test helper, preloaded into pairjoin and pairhalt: every thread a program creates does not
// start its work until the main thread begins to join that very thread. A main thread that waits
// for a thread in any other way (a sleep, another blocking call, a loop on its counter), or not
// at all, finds it not even started: the counter it reads is 0, or the loop never ends. In
// pairhalt, which requests task1's cancellation right before it joins task1, task1 always prints
// its first line with the request pending, and always increments its counter after a main thread
// that read it before the join.
#include <array>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <pthread.h>

namespace {

using start_routine = void *(*)(void *);
using create_function = int (*)(pthread_t *, const pthread_attr_t *, start_routine, void *);
using join_function = int (*)(pthread_t, void **);

constexpr long step_ns = 10'000'000; // 10 ms
constexpr int wait_steps = 6000;     // a minute at most: longer than any test lets a run take
constexpr int max_gates = 16;        // threads beyond these start at once

// A created thread's gate: opened when the main thread begins to join it.
struct gate {
    start_routine start = nullptr;
    void *arg = nullptr;
    pthread_t thread{};
    std::atomic<bool> joined{false};
};

std::array<gate, max_gates> gates;
std::atomic<int> created{0};

void pause_step()
{
    const timespec step{.tv_sec = 0, .tv_nsec = step_ns};
    nanosleep(&step, nullptr);
}

// A thread's start: held back with cancellation off, so nothing here acts on the request; then
// the program's own routine, with cancellation on, as every thread starts. (No local here has its
// address taken: the cancellation unwinds through this frame, and a sanitized build would find
// such a local's guard bytes still set when the thread ends.)
void *stalled_start(void *arg)
{
    gate *held = static_cast<gate *>(arg);
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    for (int step = 0; step < wait_steps && !held->joined; ++step)
        pause_step();
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, nullptr);
    return held->start(held->arg);
}

template <typename Function> Function next_definition(const char *name)
{
    void *found = dlsym(RTLD_NEXT, name);
    if (found == nullptr)
        abort();
    return reinterpret_cast<Function>(found); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

} // namespace

// The C library's header names the parameters with reserved names, which we may not use.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attr, start_routine start,
                              void *arg)
{
    static const auto real_create = next_definition<create_function>("pthread_create");
    const int index = created++;
    if (index >= max_gates)
        return real_create(thread, attr, start, arg);
    gate &held = gates.at(static_cast<size_t>(index));
    held.start = start;
    held.arg = arg;
    const int err = real_create(thread, attr, stalled_start, &held);
    if (err == 0)
        held.thread = *thread;
    return err;
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int pthread_join(pthread_t thread, void **result)
{
    static const auto real_join = next_definition<join_function>("pthread_join");
    const int count = created < max_gates ? created.load() : max_gates;
    for (int index = 0; index < count; ++index) {
        gate &held = gates.at(static_cast<size_t>(index));
        if (pthread_equal(thread, held.thread) != 0)
            held.joined = true;
    }
    return real_join(thread, result);
}

// pairjoin: two counting threads, both joined, then the sum of their counters.
//
// Run:   ./pairjoin
// Watch: task2's five lines come at once, task1's one a second; the main thread joins task2
//        first, then task1, and only then reads the counters: "total iterations: 10".
#include "stdstreams.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <unistd.h>

namespace {

constexpr int steps = 5;
constexpr unsigned task1_pause = 1;

// Each counter has exactly one writer: its own thread. main reads them only after the joins.
int g1 = 0;
int g2 = 0;

void *task1(void *arg)
{
    int *count = static_cast<int *>(arg);
    while (*count < steps) {
        printf("task1 count: %d\n", *count);
        ++*count;
        sleep(task1_pause);
    }
    return nullptr;
}

void *task2(void *arg)
{
    int *count = static_cast<int *>(arg);
    while (*count < steps) {
        printf("task2 count: %d\n", *count);
        ++*count; // no pause: the five steps run back to back
    }
    return nullptr;
}

void cleanup(int count1, int count2)
{
    printf("total iterations: %d\n", count1 + count2);
}

// pthread_create returns its error instead of setting errno; perror reports errno.
[[noreturn]] void creation_failed(int err, const char *label)
{
    errno = err;
    perror(label);
    exit(1);
}

} // namespace

int main()
{
    pthread_t tid1;
    pthread_t tid2;

    if (const int err = pthread_create(&tid1, nullptr, task1, &g1); err != 0)
        creation_failed(err, "pthread_create: task1");
    if (const int err = pthread_create(&tid2, nullptr, task2, &g2); err != 0)
        creation_failed(err, "pthread_create: task2");

    pthread_join(tid2, nullptr);
    pthread_join(tid1, nullptr);

    cleanup(g1, g2);
    report_lost_output(); // lines that never reached standard output are a failure
    exit(0);
}

// pairhalt: two counting threads; the first is cancelled as soon as both exist.
//
// Run:   ./pairhalt
// Watch: task2 counts 0 to 4, one line every two seconds; task1 prints at most its first line
//        before the cancellation takes effect in its pause. The total, 5 or 6, shows how far
//        task1 got.
#include "stdstreams.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <unistd.h>

namespace {

constexpr int steps = 5;
constexpr unsigned task1_pause = 1;
constexpr unsigned task2_pause = 2;

// Each counter has exactly one writer: its own thread. main reads them only after the joins.
int g1 = 0;
int g2 = 0;

// printf may be cancelled after it has written a line but before it has marked its buffer
// empty; the same line would then come out again at exit. Holding cancellation off while the
// line is printed makes every line come out once or not at all; the request then takes effect
// in the pause, which is a cancellation point.
void print_count(const char *name, int count)
{
    int oldstate;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldstate);
    printf("%s count: %d\n", name, count);
    pthread_setcancelstate(oldstate, nullptr);
}

void *task1(void *arg)
{
    int *count = static_cast<int *>(arg);
    while (*count < steps) {
        print_count("task1", *count);
        ++*count;
        sleep(task1_pause);
    }
    return nullptr;
}

void *task2(void *arg)
{
    int *count = static_cast<int *>(arg);
    while (*count < steps) {
        print_count("task2", *count);
        ++*count;
        sleep(task2_pause);
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

    pthread_cancel(tid1); // takes effect at task1's next cancellation point
    pthread_join(tid1, nullptr);
    pthread_join(tid2, nullptr);

    cleanup(g1, g2);
    report_lost_output(); // lines that never reached standard output are a failure
    exit(0);
}

/* Tasks, semaphores and the scheduler tick (ARM state). */
#include "os.h"

#define MAX_TASKS 8

struct task {
    task_fn fn;
    void *arg;
    int priority;
    unsigned wake_at;
};

struct task task_table[MAX_TASKS];
volatile unsigned os_ticks;
const char os_version[] = "example os 1.0\n";
static int current;
static volatile int lock_depth;

/* uart.c has a lock() of its own: the two static functions share a name. */
__attribute__((noinline)) static void lock(void) { ++lock_depth; }
__attribute__((noinline)) static void unlock(void) { --lock_depth; }

int task_create(task_fn fn, void *arg, int priority)
{
    lock();
    for (int id = 0; id < MAX_TASKS; ++id) {
        if (task_table[id].fn == 0) {
            task_table[id].fn = fn;
            task_table[id].arg = arg;
            task_table[id].priority = priority;
            unlock();
            return id;
        }
    }
    unlock();
    return -1;
}

void task_delete(int id)
{
    if (id >= 0 && id < MAX_TASKS)
        task_table[id].fn = 0;
}

void task_sleep(unsigned ms)
{
    task_table[current].wake_at = os_ticks + ms;
    task_yield();
}

void task_yield(void)
{
    for (int n = 1; n <= MAX_TASKS; ++n) {
        int next = (current + n) & (MAX_TASKS - 1);
        if (task_table[next].fn != 0 && task_table[next].wake_at <= os_ticks) {
            current = next;
            return;
        }
    }
}

int task_self(void) { return current; }

void sem_init(int *sem, int count) { *sem = count; }

int sem_take(int *sem, unsigned timeout_ms)
{
    unsigned until = os_ticks + timeout_ms;
    while (*sem == 0) {
        if (os_ticks >= until)
            return -1;
        task_yield();
    }
    lock();
    --*sem;
    unlock();
    return 0;
}

void sem_give(int *sem)
{
    lock();
    ++*sem;
    unlock();
}

void sched_tick(void)
{
    ++os_ticks;
    task_yield();
}

/* Entry of the target system image (ARM state). */
#include "os.h"

static void idle_task(void *arg)
{
    (void)arg;
    for (;;)
        idle_hook();
}

int os_main(void)
{
    board_init();
    uart_init(115200);
    uart_puts(os_version);
    return task_create(idle_task, 0, 0);
}

void _start(void)
{
    os_main();
    for (;;)
        task_yield();
}

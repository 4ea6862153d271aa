/* Example module: blinks the board's LED and reports on the console.
 *
 * Every call into the target system below goes through a jump slot that modweld fills.
 * The module's own functions are static (or hidden), so its internal calls never need a
 * slot, and it reads the tick count through time_now_ms() rather than os_ticks: data of
 * the target system is not resolved by modweld. */
#include "target/os.h"

#define LED_PIN 5

static char message[32];

static void report(const char *what, unsigned value)
{
    uart_puts(what);
    uart_write_hex(value);
    uart_putc('\n');
}

static void blink(void *arg)
{
    unsigned count = (unsigned)(unsigned long)arg;
    for (unsigned n = 0; n < count; ++n) {
        gpio_toggle(LED_PIN);
        task_sleep(250);
    }
    report(message, time_now_ms());
    task_delete(task_self());
}

int module_main(void)
{
    static const char text[] = "blinks done at ";
    memset(message, 0, sizeof message);
    memcpy(message, text, str_len(text));
    gpio_config(LED_PIN, 1);
    report("module loaded at ", time_now_ms());
    return task_create(blink, (void *)10, 3);
}

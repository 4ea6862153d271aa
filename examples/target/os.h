/* The target system's interface, as a module author sees it. */
#ifndef OS_H
#define OS_H

typedef void (*task_fn)(void *arg);

/* kernel.c */
int task_create(task_fn fn, void *arg, int priority);
void task_delete(int id);
void task_sleep(unsigned ms);
void task_yield(void);
int task_self(void);
void sem_init(int *sem, int count);
int sem_take(int *sem, unsigned timeout_ms);
void sem_give(int *sem);
void sched_tick(void);

/* timer.c */
unsigned time_now_ms(void);
void time_delay_ms(unsigned ms);

/* uart.c (Thumb) */
void uart_init(unsigned baud);
void uart_putc(char c);
void uart_puts(const char *s);
int uart_getc(void);
void uart_write_hex(unsigned value);

/* gpio.c (Thumb) */
void gpio_config(int pin, int output);
void gpio_set(int pin);
void gpio_clear(int pin);
void gpio_toggle(int pin);
int gpio_read(int pin);

/* lib.c */
void *memcpy(void *dst, const void *src, unsigned n);
void *memset(void *dst, int c, unsigned n);
unsigned str_len(const char *s);
int str_cmp(const char *a, const char *b);

/* Weak defaults in lib.c; a board may supply its own. */
void board_init(void);
void idle_hook(void);
void fault_handler(unsigned code);

/* board.c (Thumb) */
void led_on(void);
void led_off(void);

/* Data: reachable from the target's own code only; modules use the functions above. */
extern volatile unsigned os_ticks;
extern const char os_version[];

#endif

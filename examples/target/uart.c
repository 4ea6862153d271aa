/* Serial console driver (built in Thumb state). */
#include "os.h"

#define UART_DATA (*(volatile unsigned *)0x40011004u)
#define UART_STATUS (*(volatile unsigned *)0x40011000u)
#define UART_BAUD (*(volatile unsigned *)0x40011008u)

static volatile int uart_busy;

/* Same name as the lock() of kernel.c, a different function. */
__attribute__((noinline)) static void lock(void) { uart_busy = 1; }
__attribute__((noinline)) static void unlock(void) { uart_busy = 0; }

void uart_init(unsigned baud) { UART_BAUD = baud; }

void uart_putc(char c)
{
    while ((UART_STATUS & 0x80u) == 0) {
    }
    UART_DATA = (unsigned char)c;
}

void uart_puts(const char *s)
{
    lock();
    while (*s)
        uart_putc(*s++);
    unlock();
}

int uart_getc(void)
{
    if ((UART_STATUS & 0x20u) == 0)
        return -1;
    return (int)(UART_DATA & 0xffu);
}

void uart_write_hex(unsigned value)
{
    lock();
    for (int shift = 28; shift >= 0; shift -= 4) {
        unsigned digit = (value >> shift) & 0xfu;
        uart_putc((char)(digit < 10 ? '0' + digit : 'a' + digit - 10));
    }
    unlock();
}

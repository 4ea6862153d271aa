/* Small library routines and the weak defaults a board may replace (ARM state). */
#include "os.h"

void *memcpy(void *dst, const void *src, unsigned n)
{
    unsigned char *d = dst;
    const unsigned char *s = src;
    while (n--)
        *d++ = *s++;
    return dst;
}

void *memset(void *dst, int c, unsigned n)
{
    unsigned char *d = dst;
    while (n--)
        *d++ = (unsigned char)c;
    return dst;
}

unsigned str_len(const char *s)
{
    unsigned n = 0;
    while (s[n])
        ++n;
    return n;
}

int str_cmp(const char *a, const char *b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return (unsigned char)*a - (unsigned char)*b;
}

__attribute__((weak)) void board_init(void) {}
__attribute__((weak)) void idle_hook(void) {}
__attribute__((weak)) void fault_handler(unsigned code)
{
    uart_puts("fault ");
    uart_write_hex(code);
    for (;;) {
    }
}

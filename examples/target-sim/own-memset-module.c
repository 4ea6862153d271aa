/*
 * A module that calls nothing in the target but defines memset, a name that a dynamically
 * linked build of target-sim imports from its C library. It has no jump slot to fill, and it
 * must still be welded: a target's own imports say nothing about the module.
 */
#include <stddef.h>

void *memset(void *s, int c, size_t n)
{
    volatile unsigned char *p = s;

    while (n-- > 0)
        *p++ = (unsigned char)c;
    return s;
}

static unsigned char buffer[16];

/* 16 bytes of 7: 112. */
int module_main(void)
{
    int sum = 0;

    memset(buffer, 7, sizeof buffer);
    for (size_t i = 0; i < sizeof buffer; ++i)
        sum += buffer[i];
    return sum;
}

/*
 * An example module. It reaches the target system only by calling its functions, so
 * every import is a jump slot that the weld fills. Taking a target function's address
 * or using target data would need relocations that the weld leaves alone.
 */
int target_print(const char *text);
int target_add(int a, int b);
void *target_alloc(unsigned size);

/* In .bss: the loader must clear it, or the lookup below reads far outside the table. */
static unsigned greeting;

/* Pointers in module data: the loader adds the load address to each (R_ARM_RELATIVE). */
static const char *const greetings[] = {"hello from the module", "hello again"};

static char *put_text(char *at, const char *text)
{
    while (*text != '\0')
        *at++ = *text++;
    return at;
}

static char *put_decimal(char *at, int value)
{
    char digits[12];
    int count = 0;
    unsigned rest = value < 0 ? 0u - (unsigned)value : (unsigned)value;

    if (value < 0)
        *at++ = '-';
    do {
        digits[count++] = (char)('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    while (count > 0)
        *at++ = digits[--count];
    return at;
}

int module_main(void)
{
    int sum = target_add(40, 2);
    char *line = target_alloc(32);
    char *end;

    if (line == 0)
        return -1;
    target_print(greetings[greeting++]);
    end = put_text(line, "40 + 2 = ");
    end = put_decimal(end, sum);
    *end = '\0';
    target_print(line);
    return sum + (int)greeting;
}

/*
 * A module that hands the target a float and gets one back. Both sides must pass floats the
 * same way: in floating-point registers (-mfloat-abi=hard) or in core registers (soft,
 * softfp). The result is printed with integer arithmetic, as the target prints no floats.
 */
int target_print(const char *text);
float target_half(float x);

static char line[32] = "target_half(21) = ";

static char *put_decimal(char *at, unsigned value)
{
    char digits[10];
    int count = 0;

    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        *at++ = digits[--count];
    return at;
}

/* Prints "target_half(21) = 10.5" and returns the result in tenths. */
int module_main(void)
{
    unsigned tenths = (unsigned)(target_half(21.0f) * 10.0f);
    char *end = put_decimal(line + sizeof "target_half(21) = " - 1, tenths / 10);

    *end++ = '.';
    *end++ = (char)('0' + tenths % 10);
    *end = '\0';
    target_print(line);
    return (int)tenths;
}

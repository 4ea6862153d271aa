/*
 * A module for target-mcu (../target-mcu/), built by CMake and welded by modweld. Its
 * soft-float arithmetic calls libgcc's helpers, which the toolchain files link into the
 * module: without them the weld would look for __aeabi_fmul in the target, and fail.
 */
int target_print(const char *text);
float target_half(float x);

int module_main(void)
{
    static char line[] = "half of 21 is 00.0";
    unsigned tenths = (unsigned)(target_half(21.0f) * 10.0f);

    line[14] = (char)('0' + tenths / 100 % 10);
    line[15] = (char)('0' + tenths / 10 % 10);
    line[17] = (char)('0' + tenths % 10);
    target_print("hello from the CMake module");
    target_print(line);
    return (int)tenths;
}

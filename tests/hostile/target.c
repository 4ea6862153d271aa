/* The target system of the hostile-input fixtures: a few functions, one of them Thumb,
   one static, and a data object that a module must not resolve. */
int sys_write(int fd, const char* s) { return fd + s[0]; }
int sys_add(int a, int b) { return a + b; }
static int twice(int x) { return x * 2; }
int sys_twice(int x) { return twice(x); }
__attribute__((target("thumb"))) int sys_thumb(int x) { return x - 1; }
int sys_counter = 3;
void _start(void) {}

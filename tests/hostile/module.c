/* A module that calls into the target through four jump slots. */
extern int sys_write(int, const char*);
extern int sys_add(int, int);
extern int sys_twice(int);
extern int sys_thumb(int);
static int local_helper(int x) { return x + 7; }
int module_entry(void)
{
    return sys_write(1, "hi") + sys_add(1, 2) + sys_twice(3) + sys_thumb(4) + local_helper(5);
}

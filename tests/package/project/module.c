/* A module calling into the tiny target system. */
int k_put(int c);
int k_get(void);

int module_main(void) { return k_put(k_get()); }

/* A tiny target system image: the link file of the package test. */
int k_put(int c) { return c; }
int k_get(void) { return 'x'; }
void _start(void) { k_put(k_get()); }

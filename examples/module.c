extern int k_print(const char*); extern int k_add(int,int); extern int k_twice(int);
int entry(void){ return k_print("hi") + k_add(1,2) + k_twice(3); }

int k_print(const char*s){return s[0];}
int k_add(int a,int b){return a+b;}
static int helper(int x){return x*2;}
int k_twice(int x){return helper(x);}
int k_data = 5;
void _start(void){}

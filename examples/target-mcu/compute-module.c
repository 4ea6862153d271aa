/*
 * A module that needs nothing from the target: it only computes, and what module_main
 * returns is all it gives back (the target prints it). Without calls into the target it has
 * no jump slots and no PLT, as a module for ARMv6-M or ARMv8-M baseline must be: no linker
 * writes a PLT that those cores can run. Their cores do not divide, so the divisions below
 * call the compiler runtime, which is linked into the module.
 */

/* Read at run time, so that the compiler cannot work the answer out. */
static volatile unsigned limit = 100;

static int is_prime(unsigned n)
{
    if (n < 2)
        return 0;
    for (unsigned d = 2; d * d <= n; ++d)
        if (n % d == 0)
            return 0;
    return 1;
}

/* How many primes lie below `limit`: 25. */
int module_main(void)
{
    int count = 0;

    for (unsigned n = 0; n < limit; ++n)
        count += is_prime(n);
    return count;
}

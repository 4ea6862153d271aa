/* Time keeping on top of the scheduler tick (ARM state). */
#include "os.h"

unsigned time_now_ms(void) { return os_ticks; }

void time_delay_ms(unsigned ms)
{
    unsigned until = os_ticks + ms;
    while (os_ticks < until)
        idle_hook();
}

/* General-purpose pins (built in Thumb state). */
#include "os.h"

#define GPIO_MODE (*(volatile unsigned *)0x40020000u)
#define GPIO_OUT (*(volatile unsigned *)0x40020014u)
#define GPIO_IN (*(volatile unsigned *)0x40020010u)

void gpio_config(int pin, int output)
{
    if (output)
        GPIO_MODE |= 1u << pin;
    else
        GPIO_MODE &= ~(1u << pin);
}

void gpio_set(int pin) { GPIO_OUT |= 1u << pin; }
void gpio_clear(int pin) { GPIO_OUT &= ~(1u << pin); }
void gpio_toggle(int pin) { GPIO_OUT ^= 1u << pin; }
int gpio_read(int pin) { return (int)((GPIO_IN >> pin) & 1u); }

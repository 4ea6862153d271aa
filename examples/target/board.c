/* The board: overrides the weak board_init of lib.c (built in Thumb state). */
#include "os.h"

#define LED_PIN 5

void board_init(void) { gpio_config(LED_PIN, 1); }
void led_on(void) { gpio_set(LED_PIN); }
void led_off(void) { gpio_clear(LED_PIN); }

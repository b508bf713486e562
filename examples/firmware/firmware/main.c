#include "led.h"

extern const unsigned short blink_pattern[];
extern const unsigned blink_steps;

#define TICKS_PER_MS 8000UL

/* Where the processor starts: the firmware never returns. */
__attribute__((section(".text.reset"), noreturn)) void reset_handler(void) {
  led_init();
  for (;;) {
    unsigned step;
    for (step = 0; step < blink_steps; ++step) {
      led_set(step % 2 == 0);
      delay(blink_pattern[step] * TICKS_PER_MS);
    }
  }
}

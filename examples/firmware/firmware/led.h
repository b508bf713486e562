/* The board's LED, on a memory-mapped GPIO port. */
#ifndef LED_H
#define LED_H

void led_init(void);
void led_set(int on);
void delay(unsigned long ticks);

#endif

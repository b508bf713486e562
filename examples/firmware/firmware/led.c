#include "led.h"

#include <stdint.h>

/* GPIO port A of the board: mode and output data registers. */
#define GPIOA_MODER (*(volatile uint32_t*)0x48000000UL)
#define GPIOA_ODR (*(volatile uint32_t*)0x48000014UL)
#define LED_PIN 5

void led_init(void) {
  GPIOA_MODER = (GPIOA_MODER & ~(3U << (2 * LED_PIN))) | (1U << (2 * LED_PIN));
}

void led_set(int on) {
  if (on)
    GPIOA_ODR |= 1U << LED_PIN;
  else
    GPIOA_ODR &= ~(1U << LED_PIN);
}

void delay(unsigned long ticks) {
  volatile unsigned long n = ticks;
  while (n != 0)
    --n;
}

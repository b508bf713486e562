/* The blink pattern: on and off times in milliseconds, Morse for "SOS". */
const unsigned short blink_pattern[] = {
    150, 150, 150, 150, 150, 450,  /* S */
    450, 150, 450, 150, 450, 450,  /* O */
    150, 150, 150, 150, 150, 1050, /* S */
};
const unsigned blink_steps = sizeof blink_pattern / sizeof blink_pattern[0];

/*
 * Sample field-controller firmware for an 8051-family processor at 11.0592 MHz:
 * a status LED that blinks once a second, driven by a 1 ms timer tick, and a
 * serial console at 9600 bit/s that echoes what it receives and answers a few
 * one-letter commands.
 *
 * The code is linked behind the controller's resident boot loader, so its
 * reset and interrupt vectors start at the code location given to the linker.
 */
#include <8051.h>

#define STATUS_LED P1_0
#define FAULT_LED P1_1

/* Timer 0 reload for 1 ms at 11.0592 MHz (12 clocks per machine cycle). */
#define TICK_RELOAD (65536u - 922u)
#define BLINK_HALF_PERIOD_MS 500u

static volatile unsigned int tickMs;
static volatile unsigned char secondsLow;
static unsigned char rxCount;

void timer0Isr(void) __interrupt(1) {
    TH0 = TICK_RELOAD >> 8;
    TL0 = TICK_RELOAD & 0xFF;
    ++tickMs;
}

static void startTick(void) {
    TMOD = (TMOD & 0xF0) | 0x01; /* timer 0: 16-bit */
    TH0 = TICK_RELOAD >> 8;
    TL0 = TICK_RELOAD & 0xFF;
    ET0 = 1;
    TR0 = 1;
}

static void startUart(void) {
    SCON = 0x50;                 /* mode 1, receiver on */
    TMOD = (TMOD & 0x0F) | 0x20; /* timer 1: 8-bit auto-reload baud generator */
    TH1 = 0xFD;                  /* 9600 bit/s */
    TL1 = 0xFD;
    TR1 = 1;
    TI = 0;
    RI = 0;
}

static void putChar(char ch) {
    SBUF = ch;
    while (!TI) {
    }
    TI = 0;
}

static void putText(const char* text) {
    while (*text) putChar(*text++);
}

static void putHex(unsigned char value) {
    static const char digits[] = "0123456789ABCDEF";
    putChar(digits[value >> 4]);
    putChar(digits[value & 0x0F]);
}

static unsigned int ticksNow(void) {
    unsigned int now;
    EA = 0; /* the tick is two bytes wide: read it atomically */
    now = tickMs;
    EA = 1;
    return now;
}

static void handleCommand(char ch) {
    switch (ch) {
        case '?':
            putText("\r\nKVT sample controller\r\n");
            break;
        case 'u':
            putText("\r\nuptime ");
            putHex(secondsLow);
            putText(" s\r\n");
            break;
        case 'r':
            putText("\r\nreceived ");
            putHex(rxCount);
            putText("\r\n");
            break;
        case 'f':
            FAULT_LED = !FAULT_LED;
            break;
        default:
            putChar(ch);
            break;
    }
}

void main(void) {
    unsigned int lastToggle = 0;
    unsigned char halfPeriods = 0;

    STATUS_LED = 1;
    FAULT_LED = 1;
    startTick();
    startUart();
    EA = 1;
    putText("\r\nready\r\n");

    for (;;) {
        unsigned int now = ticksNow();
        if ((unsigned int)(now - lastToggle) >= BLINK_HALF_PERIOD_MS) {
            lastToggle += BLINK_HALF_PERIOD_MS;
            STATUS_LED = !STATUS_LED;
            if (++halfPeriods == 2) {
                halfPeriods = 0;
                ++secondsLow;
            }
        }
        if (RI) {
            char ch = SBUF;
            RI = 0;
            ++rxCount;
            handleCommand(ch);
        }
    }
}

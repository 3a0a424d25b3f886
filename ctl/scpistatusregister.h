#pragma once

// One status register group of the STATus subsystem: a condition register
// that follows the instrument's state, transition filters that choose which
// changes of a condition latch into the event register, and an enable mask
// that decides which events make the group's summary bit in the status byte.
// Bit 15 is never used.
class ScpiStatusRegister
{
public:
    static constexpr int Bits = 0x7FFF;

    int Condition() const { return condition; }
    // Bits that rose latch as events when the positive filter has them,
    // bits that fell when the negative filter has them.
    void SetCondition(int bits);
    void SetConditionBits(int bits, bool on) { SetCondition(on ? condition | bits : condition & ~bits); }
    // Reads and clears the event register.
    int TakeEvents();
    void ClearEvents() { events = 0; }

    int Enable() const { return enable; }
    void SetEnable(int bits) { enable = bits & Bits; }
    int PositiveFilter() const { return positive; }
    void SetPositiveFilter(int bits) { positive = bits & Bits; }
    int NegativeFilter() const { return negative; }
    void SetNegativeFilter(int bits) { negative = bits & Bits; }
    // STATus:PRESet: nothing enabled, every rise latched, no fall.
    void Preset();

    // An enabled event is waiting.
    bool Summary() const { return (events & enable) != 0; }

private:
    int condition = 0;
    int events = 0;
    int enable = 0;
    int positive = Bits;
    int negative = 0;
};

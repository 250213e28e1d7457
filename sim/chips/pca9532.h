#pragma once
// The 16-output I2C LED dimmer, at 0x60 to 0x67 (its three address pins). Ten registers: the
// input state of pins 0-7 and 8-15 (0, 1; read-only, set by the test), blink prescaler 0, PWM 0,
// blink prescaler 1, PWM 1 (2 to 5) and the LED selectors (6 to 9: two bits per output, output
// 4k in bits 1..0 of register 6 + k, up to output 4k + 3 in bits 7..6). The pointer byte's bits
// 3..0 name the register and its bit 4 turns on auto-increment, which wraps from 9 to 0.
//
// Not modelled: the outputs' blinking and dimming themselves, and the input state following the
// outputs (a pin driven low still reads what the test set).

#include <cstdint>

#include "sim/chips/i2c_chip.h"

namespace sim {

class Pca9532Model : public I2cChipBase {
public:
    static constexpr uint8_t c_baseAddress = 0x60;
    static constexpr unsigned c_pins = 16;

    // Power-up values: prescalers 0, PWM 0x80, every output off (mode 0), inputs all high.
    Pca9532Model();

    // What the input registers read: pin n in bit n.
    void SetInputs(uint16_t pins);
    // The 2-bit mode of an output (0 off, 1 on, 2 blink 0, 3 blink 1); pins above 15 throw
    // std::out_of_range.
    unsigned GetLedMode(unsigned pin) const;

protected:
    void _Pointer(uint8_t byte) override;
    void _Write(uint8_t byte) override;
};

} // namespace sim

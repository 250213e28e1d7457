#pragma once
// The four-channel 12-bit I2C ADC at 0x48 (0x49 with its address pin high). Registers 0 to 22:
// mode and multiplexer (0: mode in bits 7..2, channel in bits 1..0; reading gives the channel
// converted last), alarm status and enables (1: status in bits 7..4, read-only; enables in
// bits 3..0), the four results (2 and 3 for channel 0 up to 8 and 9: bits 11..4, then bits 3..0
// in the high nibble; read-only), the limits (10 to 17), interrupt, sleep, acquire and power-up
// configuration (18 to 21) and reset (22: 0xAA resets every register; reading gives the device
// id). The pointer byte's bits 5..0 name the register, bit 7 turns on auto-increment.
//
// A conversion takes the channel's input as the test set it and happens when register 0 is
// written with an active mode: the single-channel modes (manual_single 48, auto_single 49,
// auto_single_sleep 57) convert the selected channel, the scan and burst modes all four. A mode
// change into an active mode from any mode but awake (32) breaks the part's rule that active
// modes are entered through awake; the model counts it and converts anyway.
//
// Not modelled: timing (sleep, acquire and power-up times; results are there at once), the
// repeated conversions of the auto modes after the first, the alarms and the interrupt pin.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/chips/i2c_chip.h"

namespace sim {

class Ads7924Model : public I2cChipBase {
public:
    static constexpr uint8_t c_address = 0x48;
    static constexpr uint8_t c_deviceId = 0x19;

    Ads7924Model();

    // The 12-bit code a conversion of the channel gives (0 at construction); a channel above 3
    // throws std::out_of_range.
    void SetInput(unsigned channel, uint16_t code);

    // The mode field (register 0 bits 7..2) and the selected channel as last written.
    unsigned GetMode() const;
    unsigned GetMuxChannel() const;
    // Every byte written to register 0, in order.
    std::vector<uint8_t> GetModeWrites() const;
    // Active modes entered from a mode other than awake.
    size_t GetModeViolations() const;
    size_t GetConversions(unsigned channel) const;
    size_t GetResets() const;

protected:
    void _Pointer(uint8_t byte) override;
    void _Write(uint8_t byte) override;
    uint8_t _Read() override;

private:
    void _Reset();
    void _Convert(unsigned channel);

    uint16_t m_inputs[4] = {};
    size_t m_conversions[4] = {};
    unsigned m_lastConverted = 0;
    std::vector<uint8_t> m_modeWrites;
    size_t m_violations = 0;
    size_t m_resets = 0;
};

} // namespace sim

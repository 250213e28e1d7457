#pragma once
// The DAC7554 four-channel 12-bit DAC on an SPI chip-select line: 16-bit words, MSB first.
//
// Word: bits 15-14 the load mode, 13-12 the channel, 11-0 the value. Mode 0b10 (the one the
// system's driver sends) writes the channel's input register and updates its output at once;
// mode 0b00 writes the input register only; mode 0b01 writes the input register and updates every
// output from its input register; mode 0b11 is a power-down command, which the model records
// (GetWords) without acting on it.

#include <array>
#include <cstdint>

#include "sim/chips/spi_chip.h"

namespace sim {

class Dac7554Model : public SpiChipBase {
public:
    Dac7554Model();
    ~Dac7554Model() override;

    // Output and input register of channel 0 to 3 (std::out_of_range past them); 0 at start.
    uint16_t GetOutput(unsigned channel) const;
    uint16_t GetInput(unsigned channel) const;

protected:
    uint64_t _Word(uint64_t word) override;

private:
    std::array<uint16_t, 4> m_inputs{};
    std::array<uint16_t, 4> m_outputs{};
};

} // namespace sim

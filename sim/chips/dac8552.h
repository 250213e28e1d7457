#pragma once
// The DAC8552 two-output 16-bit DAC on an SPI chip-select line: 24-bit words, MSB first.
//
// Word: bits 23-22 0, bit 21 load output B from its input register, bit 20 load output A, bit 19
// 0, bit 18 the input register the value goes to (0: A, 1: B), bits 17-16 the power-down code,
// bits 15-0 the value. The value is stored first, then each output named by a load bit takes its
// input register and the power-down code. A word with bit 23, 22 or 19 set is not the chip's and
// changes nothing.

#include <array>
#include <cstdint>

#include "sim/chips/spi_chip.h"

namespace sim {

class Dac8552Model : public SpiChipBase {
public:
    Dac8552Model();
    ~Dac8552Model() override;

    // Output 0 (A) or 1 (B) (std::out_of_range past them); all 0 at start.
    uint16_t GetOutput(unsigned output) const;
    uint16_t GetInput(unsigned output) const;
    unsigned GetPowerDown(unsigned output) const;

protected:
    uint64_t _Word(uint64_t word) override;

private:
    std::array<uint16_t, 2> m_inputs{};
    std::array<uint16_t, 2> m_outputs{};
    std::array<unsigned, 2> m_powerDown{};
};

} // namespace sim

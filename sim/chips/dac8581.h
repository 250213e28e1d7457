#pragma once
// The DAC8581 16-bit DAC on an SPI chip-select line: one 16-bit word, MSB first, is the output
// code in two's complement.

#include <cstdint>

#include "sim/chips/spi_chip.h"

namespace sim {

class Dac8581Model : public SpiChipBase {
public:
    Dac8581Model();
    ~Dac8581Model() override;

    // The output code; 0 at start.
    int16_t GetOutput() const;

protected:
    uint64_t _Word(uint64_t word) override;

private:
    int16_t m_output = 0;
};

} // namespace sim

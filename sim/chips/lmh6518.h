#pragma once
// The LMH6518 variable-gain amplifier on an SPI chip-select line: 24-bit frames, MSB first.
//
// Frame: bit 23 reads, bits 22-16 the register address (0, the control register), bits 15-0 the
// data. Every frame is answered with the control register as it stood before the frame, in bits
// 15-0. A frame with bit 23 clear writes its data into the register (so a frame of zeros writes
// 0); one with bit 23 set only answers.

#include <cstdint>

#include "sim/chips/spi_chip.h"

namespace sim {

class Lmh6518Model : public SpiChipBase {
public:
    static constexpr uint16_t c_controlAtStart = 0x000A;

    Lmh6518Model();
    ~Lmh6518Model() override;

    uint16_t GetControl() const;
    void SetControl(uint16_t value);
    // Frames that wrote the register.
    size_t GetWriteCount() const;

protected:
    uint64_t _Word(uint64_t word) override;

private:
    uint16_t m_control = c_controlAtStart;
    size_t m_writes = 0;
};

} // namespace sim

#pragma once
// The I2C clock generator at address 0x70: registers 0 to 350 on two pages of 256 addresses.
// Register 255 is the page register on both pages (bit 0 selects the page of the other
// addresses); numbers 256 to 350 are page 1's addresses 0 to 94. Get and Set of the register
// file take these numbers (Get(300) is page 1's address 44, Get(255) the page register).
//
// Register 218 is the status (bit 4 PLL loss of lock, bit 3 IN2 loss of signal, bit 2 IN1 loss of
// signal, bit 0 calibration in progress): each read takes the next value of a script, and the
// last value stays (SetStatusScript). Registers 218 and 235 to 237 (the frequency-calibration
// result, which a test sets with Set) are read-only. Writing bit 1 of register 246 is a soft
// reset, counted; the bit clears itself.
//
// Not modelled: the PLL and its output frequencies, what the soft reset recalibrates, the
// sticky alarm registers, and the reserved bits' meanings (they keep whatever is written).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/chips/i2c_chip.h"

namespace sim {

class Si5338Model : public I2cChipBase {
public:
    static constexpr uint8_t c_address = 0x70;
    static constexpr uint16_t c_page = 255;
    static constexpr uint16_t c_status = 218;
    static constexpr uint16_t c_softReset = 246;

    Si5338Model();

    // The values register 218 reads in turn from now on; the last one repeats. {0x00} (all well)
    // at construction; an empty script reads 0.
    void SetStatusScript(std::vector<uint8_t> values);
    // Reads of register 218 since construction.
    size_t GetStatusReads() const;
    size_t GetSoftResets() const;
    // Writes to the page register since construction.
    size_t GetPageWrites() const;

protected:
    void _Pointer(uint8_t byte) override;
    void _Write(uint8_t byte) override;
    uint8_t _Read() override;

private:
    // The register at the pointer, which then moves to the next address of the page.
    size_t _StepInPage();

    std::vector<uint8_t> m_script{0x00};
    size_t m_scriptAt = 0;
    size_t m_statusReads = 0;
    size_t m_softResets = 0;
    size_t m_pageWrites = 0;
};

} // namespace sim

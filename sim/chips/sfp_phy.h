#pragma once
// The PHY inside a copper SFP module, at address 0x56: 32 registers of 16 bits. The pointer byte
// names the register; a value goes on the bus high byte first, and a register is written when
// its low byte arrives (a lone high byte changes nothing). Reading gives the high byte, then the
// low byte, then the next register.
//
// Register 0 (control): bit 15 is a reset that clears itself. Register 1 (status, read-only):
// bit 2 is the link status, latched low: after the link was down it reads 0 once, and the next
// read shows the link as it is. Register 27 (extended status) holds the interface mode.
//
// Not modelled: the copper side (auto-negotiation, speed), the pages and what the modes do.

#include <cstddef>
#include <cstdint>

#include "sim/chips/i2c_chip.h"

namespace sim {

class SfpPhyModel : public I2cChipBase {
public:
    static constexpr uint8_t c_address = 0x56;

    // Power-up values: control 0x1140, status 0x7949 (link down), extended status 0x848F.
    SfpPhyModel();

    // Registers 0 to 31; others throw std::out_of_range.
    uint16_t GetWord(unsigned reg) const;
    void SetWord(unsigned reg, uint16_t value);
    void SetLink(bool up);
    size_t GetStatusReads() const;

protected:
    void _Pointer(uint8_t byte) override;
    void _Write(uint8_t byte) override;
    uint8_t _Read() override;
    void _Stop() override { m_low = false; }

private:
    uint16_t _Word(size_t reg) const;
    void _SetWord(size_t reg, uint16_t value);

    size_t m_reg = 0;
    bool m_low = false; // the next byte is the low byte
    uint8_t m_high = 0;
    uint16_t m_readWord = 0;
    bool m_linkUp = false;
    bool m_linkLatch = false;
    size_t m_statusReads = 0;
};

} // namespace sim

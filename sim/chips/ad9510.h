#pragma once
// The AD9510 clock distribution chip with its PLL, on an SPI chip-select line (8-bit words, MSB
// first, a byte stream).
//
// An instruction is two bytes: bit 7 of the first marks a read, bits 6-5 give the number of data
// bytes less one (3: streaming until the chip is released), bits 4-0 and the second byte the
// register address. Data bytes follow, the address counting down after each. A read answers the
// register in the byte after the instruction.
//
// Written registers take effect (GetActive) when 1 is written to the update register 0x5A, which
// then reads 0 again. Register 0 is the serial-port control: bit 4 (long instruction) is set at
// start; writing bit 5 (soft reset) puts every other register back to its value at start, and bit
// 5 reads as written until it is cleared.
//
// Faults: a broken link answers every read with ones and takes no write (SetLinkBroken).

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "sim/chips/spi_chip.h"

namespace sim {

class Ad9510Model : public SpiChipBase {
public:
    static constexpr uint8_t c_serialControl = 0x00;
    static constexpr uint8_t c_update = 0x5A;
    static constexpr uint8_t c_serialControlAtStart = 0x10;

    Ad9510Model();
    ~Ad9510Model() override;

    // The register as a read answers it (written, not yet active) and as it is in effect.
    uint8_t GetRegister(uint8_t address) const;
    uint8_t GetActive(uint8_t address) const;
    // Sets the register as if written and made active, without a command.
    void SetRegister(uint8_t address, uint8_t value);
    // Writes to the update register so far, and soft resets.
    size_t GetUpdateCount() const;
    size_t GetSoftResetCount() const;
    // Every register write received, (address, value) in order.
    std::vector<std::pair<uint8_t, uint8_t>> GetWrites() const;
    void ClearWrites();

    void SetLinkBroken(bool broken);

protected:
    void _Select() override;
    uint8_t _Byte(uint8_t byte) override;

private:
    void _Write(uint8_t address, uint8_t value);

    std::array<uint8_t, 256> m_registers{};
    std::array<uint8_t, 256> m_active{};
    std::vector<std::pair<uint8_t, uint8_t>> m_writes;
    size_t m_updates = 0;
    size_t m_resets = 0;
    bool m_broken = false;

    size_t m_position = 0;
    bool m_read = false;
    unsigned m_left = 0; // data bytes still expected; 0 with streaming means no limit
    bool m_streaming = false;
    uint16_t m_address = 0;
};

} // namespace sim

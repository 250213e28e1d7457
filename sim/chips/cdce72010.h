#pragma once
// The CDCE72010 clock synchroniser on an SPI chip-select line: 32-bit words, least significant
// bit first.
//
// A word whose low four bits are a register number 0 to 11 writes bits 31-4 (28 bits) into that
// register. A word with 0xE in its low four bits is a read request for the register in bits 7-4:
// the first word after the chip was released and selected again is answered with the register
// as the chip keeps it, its 28 bits above the register number (without the new selection the
// request lapses). Other words change nothing.

#include <array>
#include <cstdint>

#include "sim/chips/spi_chip.h"

namespace sim {

class Cdce72010Model : public SpiChipBase {
public:
    static constexpr unsigned c_registers = 12;

    Cdce72010Model();
    ~Cdce72010Model() override;

    // The 28-bit value of register 0 to 11 (std::out_of_range past them).
    uint32_t GetRegister(unsigned id) const;
    void SetRegister(unsigned id, uint32_t value);
    // Read requests that were answered.
    size_t GetReadCount() const;

protected:
    void _Select() override;
    uint64_t _Word(uint64_t word) override;

private:
    std::array<uint32_t, c_registers> m_registers{};
    int m_pendingRead = -1;
    bool m_readArmed = false; // selected again since the request
    size_t m_reads = 0;
};

} // namespace sim

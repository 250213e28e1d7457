#pragma once
// The I2C programmable crystal oscillator (VCXO) at address 0x55: output = crystal × RFREQ /
// (HS_DIV × N1), with the DCO (crystal × RFREQ) between 4.85 and 5.67 GHz on a real part.
//
// Registers 7 to 12 hold the divider set (register 7: HS_DIV code in bits 7..5, N1 code bits 6..2
// in bits 4..0; register 8: N1 code bits 1..0 in bits 7..6, RFREQ bits 37..32; registers 9 to 12:
// RFREQ bits 31..0). Register 135: bit 0 recalls the factory set from the NVM into registers 7
// to 12, bit 6 applies registers 7 to 12 to the output (both clear themselves); register 137
// bit 4 freezes the DCO. The output changes only when a new frequency is applied with the DCO
// running; a divider register written while the DCO runs would glitch the output, which the
// model counts.
//
// Not modelled: the small-change path (freeze M, bit 5 of register 135, is stored only), the
// settling time after an apply, the temperature stability and the upper registers of the
// wider-range variants.

#include <cstddef>
#include <cstdint>

#include "sim/chips/i2c_chip.h"

namespace sim {

class Si57xModel : public I2cChipBase {
public:
    static constexpr uint8_t c_address = 0x55;
    static constexpr double c_defaultXtal = 114285000.0;

    // One divider set as registers 7 to 12 hold it.
    struct Setting {
        uint8_t hsDivCode = 0; // 3 bits
        uint8_t n1Code = 0;    // 7 bits: N1 − 1
        uint64_t rfreq = 0;    // 38 bits, 28 of them fractional

        // The HS_DIV of the code: 4, 5, 6, 7, 9 or 11; 0 for the codes 4 and 6, which have none.
        unsigned HsDiv() const;
        unsigned N1() const { return n1Code + 1u; }
        bool operator==(const Setting& other) const
        {
            return hsDivCode == other.hsDivCode && n1Code == other.n1Code && rfreq == other.rfreq;
        }
    };

    // The set whose RFREQ gives outputHz from the crystal (rounded to the nearest unit).
    static Setting SettingFor(double outputHz, uint8_t hsDivCode, uint8_t n1Code, double xtalHz = c_defaultXtal);

    // A part with the default crystal, factory-set to 100 MHz with HS_DIV 5 and N1 10.
    Si57xModel();

    // Powers the part up afresh with this crystal and factory set: NVM, registers and output.
    void PowerUp(double xtalHz, const Setting& factory);

    double GetXtal() const;
    Setting GetFactory() const;
    // Registers 7 to 12 as they read now.
    Setting GetRegisters() const;
    // The set the output runs on: the factory set from power-up, then each applied set.
    Setting GetOutput() const;
    // Of the output set: crystal × RFREQ / (HS_DIV × N1) and crystal × RFREQ (0 without HS_DIV).
    double GetOutputFrequency() const;
    double GetDcoFrequency() const;

    size_t GetRecalls() const;
    size_t GetApplies() const;
    // Writes to registers 7 to 12 while the DCO was not frozen.
    size_t GetUnfrozenWrites() const;
    bool IsDcoFrozen() const;

protected:
    void _Write(uint8_t byte) override;

private:
    double m_xtal = c_defaultXtal;
    uint8_t m_nvm[6] = {};
    Setting m_output;
    size_t m_recalls = 0;
    size_t m_applies = 0;
    size_t m_unfrozenWrites = 0;
};

} // namespace sim

#ifndef BMC_ANALOG_MUX_H
#define BMC_ANALOG_MUX_H

// An analog multiplexer whose input is chosen by one 32-bit FPGA register. Copies drive the same
// register.

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"

namespace bmc {

// The byte type of mapped FPGA memory.
typedef uint8_t FPGAMem_t;

class BMC_API AnalogMux {
public:
    // Selects input 0 (writes the register) when there is at least one input. The register must
    // stay mapped while the object and its copies live; a null or misaligned register is refused.
    AnalogMux(volatile FPGAMem_t* reg, const std::string& name, uint32_t inputs);
    AnalogMux(const AnalogMux&) = default;
    AnalogMux& operator=(const AnalogMux&) = default;
    virtual ~AnalogMux();

    // Writes the input when it is below the number of inputs; false (nothing written) otherwise.
    bool SetInput(uint32_t input) const;
    // The register as read back, unmasked.
    uint32_t GetInput() const;

    uint32_t GetInputCount() const { return m_inputs; }
    // The register, which copies share.
    volatile FPGAMem_t* GetRegister() const { return m_reg; }

private:
    volatile FPGAMem_t* m_reg;
    uint32_t m_inputs;
};

} // namespace bmc

#endif

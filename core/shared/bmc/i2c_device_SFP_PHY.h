#ifndef BMC_I2C_DEVICE_SFP_PHY_H
#define BMC_I2C_DEVICE_SFP_PHY_H

// The PHY inside a copper SFP module, at the 7-bit address 0x56 (0xAC in the 8-bit form of module
// documentation). Its registers are 16 bits wide: each access is one transfer of the register
// number and two bytes, the high byte first.

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/i2c_device.h"

namespace bmc {

class BMC_API SfpPhy : public I2cDevice {
public:
    static constexpr uint8_t c_i2cAddr = 0x56;

    // The address argument is not used: the PHY is always at c_i2cAddr.
    SfpPhy(BusController& controller, const std::string& name, BusDeviceId id, uint8_t address, uint8_t bus);
    ~SfpPhy() override;

    // Control register 0 = 0x4011: out of isolation.
    void IsolateDisable();
    // Extended mode register 27 = 0x8490 (SGMII), then control register 0 = 0x4091.
    void SetSgmii();
    // Status register 1, read twice: its link bit latches low, so the second reading is the
    // state now. Always true.
    bool GetStatus(uint16_t& status) const;

private:
    void _WriteWord(uint8_t reg, uint16_t value);
    uint16_t _ReadWord(uint8_t reg) const;
};

} // namespace bmc

#endif

#ifndef BMC_I2C_DEVICE_SFP_EEPROM_H
#define BMC_I2C_DEVICE_SFP_EEPROM_H

// The identification EEPROM of a pluggable SFP module, at the 7-bit address 0x50 (0xA0 in the
// 8-bit form of module documentation). Every register access is its own locked transfer.

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/i2c_device.h"

namespace bmc {

class BMC_API SfpEeprom : public I2cDevice {
public:
    static constexpr uint8_t c_i2cAddr = 0x50;

    // The address argument is not used: the EEPROM is always at c_i2cAddr.
    SfpEeprom(BusController& controller, const std::string& name, BusDeviceId id, uint8_t address, uint8_t bus);
    ~SfpEeprom() override;

    // The vendor name (bytes 20-35) followed by the part number and revision (40-59), each up
    // to its first zero byte, read one byte per transfer; true when the text is not empty. A
    // failed transfer throws, with the vendor name already in place when the second field
    // fails.
    bool GetVendor(std::string& vendor) const;
};

} // namespace bmc

#endif

#ifndef BMC_I2C_DEVICE_PCA9532_H
#define BMC_I2C_DEVICE_PCA9532_H

// The 16-output I2C LED dimmer: the LED selector registers 6 to 9, two bits per output, four
// outputs per register (output 4k in bits 1..0 of register 6 + k, output 4k + 3 in bits 7..6).
// The dimmer's other registers are reached through I2cDevice::Get and Set.

#include <cstddef>
#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/i2c_device.h"

namespace bmc {

class BMC_API PCA9532 : public I2cDevice {
public:
    static constexpr uint32_t c_num_of_pins = 16;

    // A selector register by its number.
    enum tRegister : int32_t { eLedSelect0 = 6, eLedSelect1 = 7, eLedSelect2 = 8, eLedSelect3 = 9 };
    // The 2-bit mode of one output (its names belong to the wrapper).
    enum tMode : int32_t { eModeOff = 0, eModeOn = 1, eModeBlink0 = 2, eModeBlink1 = 3 };

    PCA9532(BusController& controller, const std::string& name, BusDeviceId id, uint8_t address, uint8_t bus);
    ~PCA9532() override;

    // One register write: a is the register's highest output, d its lowest; each mode keeps its
    // low two bits.
    bool SetModes(tRegister r, tMode a, tMode b, tMode c, tMode d);
    // One register read, in the same order.
    bool GetModes(tRegister r, tMode& a, tMode& b, tMode& c, tMode& d) const;

    // The modes of outputs start .. min(start + count, 16) − 1, each covering selector register
    // read once; answers the number copied. A start of 16 or more throws "Start index is out of
    // range" before any transfer.
    size_t GetOperationModes(tMode* modes, size_t start, size_t count) const;
    // Read-modify-write of each covering selector register, all under one bus lock; true when a
    // mode was written (count 0: false, no transfer). The same refusal as above.
    bool SetOperationModes(const tMode* modes, size_t start, size_t count);
};

} // namespace bmc

#endif

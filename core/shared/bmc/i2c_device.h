#ifndef BMC_I2C_DEVICE_H
#define BMC_I2C_DEVICE_H

// The base of every I2C chip driver: 8-bit registers, one locked transfer per access. A driver
// gives itself its parameters in its constructor:
//     bmc::SetBusParam<bmc::I2cBusParams>(*this, address, bus, 100);

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/bus_device.h"
#include "bmc/i2c_bus_params.h"

namespace bmc {

class BMC_API I2cDevice : public BusDevice {
public:
    I2cDevice(BusController& controller, const std::string& name, BusDeviceId id);
    ~I2cDevice() override;

    // Writes the byte to the register (one word, upper bits zero).
    void Set(uint8_t reg, uint8_t value);
    // The low byte of one word read from the register.
    uint8_t Get(uint8_t reg) const;
};

} // namespace bmc

#endif

#include "bmc/i2c_device.h"

#include "istd/trace.h"

namespace bmc {

I2cDevice::I2cDevice(BusController& controller, const std::string& name, BusDeviceId id)
    : BusDevice(controller, name, id)
{
}

I2cDevice::~I2cDevice() = default;

void I2cDevice::Set(uint8_t reg, uint8_t value)
{
    ISTD_TRACE_FNC("void bmc::I2cDevice::Set(uint8_t, uint8_t)");
    Write(reg, uint64_t{value});
}

uint8_t I2cDevice::Get(uint8_t reg) const
{
    ISTD_TRACE_FNC("uint8_t bmc::I2cDevice::Get(uint8_t) const");
    uint64_t value = 0;
    Read(reg, value);
    return static_cast<uint8_t>(value);
}

} // namespace bmc

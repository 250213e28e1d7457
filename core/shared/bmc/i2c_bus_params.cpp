#include "bmc/i2c_bus_params.h"

namespace bmc {

I2cBusParams::I2cBusParams(uint8_t address, uint8_t bus, uint32_t freq_khz)
    : BusParams(freq_khz, true, false), m_address(address), m_bus(bus)
{
}

I2cBusParams::~I2cBusParams() = default;

} // namespace bmc

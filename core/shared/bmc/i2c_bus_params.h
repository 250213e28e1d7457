#ifndef BMC_I2C_BUS_PARAMS_H
#define BMC_I2C_BUS_PARAMS_H

#include <cstdint>

#include "bmc/bmc_export.h"
#include "bmc/bus_params.h"

namespace bmc {

// The bus settings of an I2C chip: polling on, no chip-select toggle.
class BMC_API I2cBusParams : public BusParams {
public:
    I2cBusParams(uint8_t address, uint8_t bus, uint32_t freq_khz);
    ~I2cBusParams() override;

    // The chip's 7-bit address; on the bus it is shifted left by one within 8 bits, so an
    // address above 0x7F loses its top bit.
    uint8_t m_address;
    // The bus behind the core's bus multiplexer.
    uint8_t m_bus;
};

} // namespace bmc

#endif

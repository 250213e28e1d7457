#ifndef BMC_SPI_DEVICE_ADT7301_H
#define BMC_SPI_DEVICE_ADT7301_H

// The ADT7301 digital temperature sensor: one 16-bit word, a 14-bit two's-complement
// temperature in 1/32 °C.

#include <string>

#include "bmc/bmc_export.h"
#include "bmc/spi_device.h"

namespace bmc {

class BMC_API ADT7301 : public SpiDevice {
public:
    // 16-bit words at 3000 kHz, sample edge and clock polarity set. Sets the idle limit of the
    // whole controller to 1000 ms, then takes one reading and drops it.
    ADT7301(BusController& controller, const std::string& name, BusDeviceId id);
    ~ADT7301() override;

    // Reads one word; error when it is above 0x3FFF ("ADT7301 com. error or data out of range").
    // degrees = the 14-bit code × 0.03125, written also with error set. Always true.
    bool GetTemperature(float& degrees, bool& error);
};

} // namespace bmc

#endif

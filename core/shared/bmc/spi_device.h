#ifndef BMC_SPI_DEVICE_H
#define BMC_SPI_DEVICE_H

// The base of every SPI chip driver. The chip's own addressing travels inside the data words;
// the register number of Read, Write and Transfer is not used on SPI.

#include <string>

#include "bmc/bmc_export.h"
#include "bmc/bus_device.h"
#include "bmc/spi_bus_params.h"

namespace bmc {

class BMC_API SpiDevice : public BusDevice {
public:
    // Id 255 is refused ("Device identifier 255 is reserved for internal usage."): the
    // controller uses it for no device applied yet.
    SpiDevice(BusController& controller, const std::string& name, BusDeviceId id);
    ~SpiDevice() override;
};

} // namespace bmc

#endif

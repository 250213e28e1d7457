#ifndef BMC_SPI_DEVICE_DAC8581_H
#define BMC_SPI_DEVICE_DAC8581_H

// The DAC8581: one 16-bit DAC channel with a signed code. The chip is not read back; the driver
// answers from what it last wrote.

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/spi_device.h"

namespace bmc {

class BMC_API DAC8581 : public SpiDevice {
public:
    // 16-bit words at 12500 kHz, sample edge set; sends nothing.
    DAC8581(BusController& controller, const std::string& name, BusDeviceId id);
    ~DAC8581() override;

    // Sends the code's 16 two's-complement bits.
    bool SetValue(const int16_t& value);
    // The last code written; 0 after construction.
    int16_t GetValue() const { return m_value; }

private:
    int16_t m_value = 0;
};

} // namespace bmc

#endif

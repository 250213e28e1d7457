#ifndef BMC_SPI_DEVICE_DAC7554_H
#define BMC_SPI_DEVICE_DAC7554_H

// The DAC7554: four 12-bit DAC channels. The chip is not read back; the driver answers from what
// it last wrote. Every write leaves its channel out of power-down (mode 3); no other mode is
// applied.

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/spi_device.h"

namespace bmc {

class BMC_API DAC7554 : public SpiDevice {
public:
    // The board wrapper names them "HiZ", "1K", "100K" and "Off".
    enum PowerDownMode_e {
        ePowerDownHiZ = 0,
        ePowerDown1K = 1,
        ePowerDown100K = 2,
        ePowerDownOff = 3 // no power-down: the channel drives its value
    };

    static constexpr uint32_t c_channels = 4;
    static constexpr uint16_t c_maxValue = 4095;

    // 16-bit words at 12500 kHz, transmit edge set; then every channel set to 0 (four words).
    DAC7554(BusController& controller, const std::string& name, BusDeviceId id);
    ~DAC7554() override;

    // Sends 0x8000 | channel << 12 | value. Throws, before anything is sent, "Invalid channel id
    // <n>" for a channel above 3 and then "Specified value <v> is out of range" above 4095.
    bool SetValue(uint32_t channel, uint16_t value);
    uint16_t GetValue(uint32_t channel) const;
    // Only ePowerDownOff is applied (the channel's value sent again); any other mode throws
    // "Invalid power down option <n>".
    bool SetPowerDownMode(uint32_t channel, PowerDownMode_e mode);
    PowerDownMode_e GetPowerDownMode(uint32_t channel) const;

private:
    uint16_t m_values[c_channels] = {};
    PowerDownMode_e m_power_down_modes[c_channels] = {ePowerDownOff, ePowerDownOff, ePowerDownOff, ePowerDownOff};
};

} // namespace bmc

#endif

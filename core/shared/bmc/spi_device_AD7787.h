#ifndef BMC_SPI_DEVICE_AD7787_H
#define BMC_SPI_DEVICE_AD7787_H

// The AD7787 24-bit sigma-delta ADC: raw conversions, volts against the reference voltage given
// at construction, and the temperature of a 1000 Ω platinum thermometer read through a divider
// with 4700 Ω on 3.3 V.

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/spi_device.h"

namespace bmc {

class BMC_API AD7787 : public SpiDevice {
public:
    // Status readings of one conversion wait, 1 ms apart.
    static constexpr uint32_t c_statusReadings = 102;

    // 8-bit words at 3000 kHz, sample edge and clock polarity set; then mode 6 and filter 4.
    AD7787(BusController& controller, const std::string& name, BusDeviceId id, double vref);
    ~AD7787() override;

    void SetModeReg(uint8_t mode);     // 0x10, mode
    void SetFilterReg(uint8_t filter); // 0x20, filter
    uint8_t GetStatusReg();            // 0x08, one byte in
    uint32_t GetDataReg();             // 0x38, three bytes in, most significant first

    // Waits for a conversion (status bit 7 clear) and reads it; error = status bit 6 or bits 1-0.
    // False, raw and error untouched, when the 102nd status reading still shows no conversion.
    bool GetRawData(uint32_t& raw, bool& error);
    // raw × vref / 2^24; false (volts untouched) when GetRawData is.
    bool GetVoltage(float& volts, bool& error);
    // Two conversions, the second decides. A conversion that timed out sets error and answers
    // false; a conversion with error set answers true without a temperature; a voltage outside the
    // thermometer formula's range (not below 3.3 V, or above about 2.04 V where the formula has no
    // real solution) sets error and answers true without a temperature. Otherwise degrees
    // Celsius from the inverse of the quadratic RTD equation (A = 3.9083e-3, B = −5.775e-7).
    bool GetTemperature(float& degrees, bool& error);

    double GetVref() const { return m_vref; }

private:
    const double m_vref;
};

} // namespace bmc

#endif

#ifndef BMC_SPI_DEVICE_DAC8552_H
#define BMC_SPI_DEVICE_DAC8552_H

// The DAC8552: two 16-bit outputs, each with an input register that a write fills and an output
// register loaded from it. The chip is not read back; the driver keeps both registers of each
// output and the power-down mode of the last write.

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/spi_device.h"

namespace bmc {

class BMC_API DAC8552 : public SpiDevice {
public:
    // 0 = output A, 1 = output B.
    typedef uint32_t tOutput;
    // Power-down code; the board wrapper names 0 to 3 "normal", "power_down_1K",
    // "power_down_100K" and "power_down".
    typedef uint32_t tMode;

    static constexpr tOutput c_outputA = 0;
    static constexpr tOutput c_outputB = 1;

    // 24-bit words at 12500 kHz, both edges set; sends nothing.
    DAC8552(BusController& controller, const std::string& name, BusDeviceId id);
    ~DAC8552() override;

    // The mode the next write sends; no bus access.
    void SetMode(tMode mode);
    // The mode sent with the last write (not a pending one).
    tMode GetMode() const;

    // One 24-bit word: load B (bit 21), load A (bit 20), the output whose input register takes
    // the value (bit 18), the pending mode (bits 17-16) and the value. Then the output's input
    // register holds the value and each loaded output takes its input register. An output other
    // than 0 or 1 throws "Invalid output id <n>" before anything is sent.
    bool SetValue(bool load_a, bool load_b, tOutput output, const uint16_t& value);
    // The output register of the output (same refusal).
    uint16_t GetValue(tOutput output) const;

private:
    uint16_t m_output_values[2] = {};
    uint16_t m_input_values[2] = {};
    tMode m_mode = 0;
    tMode m_next_mode = 0;
};

} // namespace bmc

#endif

#ifndef BMC_I2C_DEVICE_SI57X_H
#define BMC_I2C_DEVICE_SI57X_H

// The I2C programmable crystal oscillator (VCXO) at address 0x55. Its output is
// f_xtal × RFREQ / (HS_DIV × N1), with the DCO (f_xtal × RFREQ) strictly between 4.85 and
// 5.67 GHz. The driver keeps the wanted output frequency; enabling the device
// (SetDeviceState(eBusDeviceEnabled)) recalls the factory set from the chip's NVM, derives the
// crystal frequency from it (the factory set gives 100 MHz), picks the divider pair whose HS_DIV
// lies nearest the factory one, and writes dividers and RFREQ with the DCO frozen, then applies
// them. A chip that does not answer, or reads 0 in registers 7 to 12, makes enabling a traced
// no-op.

#include <atomic>
#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/i2c_device.h"

namespace bmc {

class BMC_API Si57x : public I2cDevice {
public:
    static constexpr uint8_t c_i2cAddr = 0x55;

    // One divider set, as read from the chip or to be written to it.
    struct dividerData {
        int32_t hs_div_code = 0; // 3 bits; −1: none
        int32_t n1_code = 0;     // N1 − 1, 7 bits; −1: none
        int32_t hs_div = 0;      // 4, 5, 6, 7, 9 or 11; −1 for the codes 4 and 6
        int32_t n1_div = 0;      // 1 or an even number up to 128
        uint64_t rfreq = 0;      // 38 bits, 28 of them fractional
        double dco_freq = 0;     // Hz; 0 when read from the chip
    };

    // The address argument is not used: the chip is always at c_i2cAddr.
    Si57x(BusController& controller, const std::string& name, BusDeviceId id, uint8_t address, uint8_t bus);
    ~Si57x() override;

    // The wanted output frequency in Hz (100 MHz at construction); it reaches the chip at the
    // next enable.
    bool SetVcxoFreq(const uint32_t& freq);
    bool GetVcxoFreq(uint32_t& freq) const;
    // Registers 7 to 12 as last written by an enable, register 7 in the low byte; 0 before.
    uint64_t GetVcxoConfigParams() const;

    // True when the chip answers and its register 7 is not 0, or (HS_DIV 4 with N1 of 4 or less
    // leaves register 7 at 0) one of registers 8 to 12 is not. A chip that leaves its address
    // unacknowledged (or a bus that fails) counts as absent: traced, not thrown.
    bool CheckVcxoPresence();
    // Recalls the factory set into registers 7 to 12.
    bool RecallNvmVcxo();
    // Registers 7 to 12 under one bus lock.
    bool ReadRfreq(dividerData* data);
    // Freeze the DCO, write registers 7 to 12, release and apply, under one bus lock. False,
    // with nothing written, for a set whose codes or RFREQ do not fit their fields.
    bool WriteRfreq(const dividerData* data);
    // The divider search for newFreq from the factory set oldData. False when the factory set
    // is not a valid one (no HS_DIV or N1, RFREQ 0) or no divider pair puts the DCO inside the
    // window.
    bool CalcNewRfreq(uint64_t newFreq, const dividerData* oldData, dividerData* newData);

protected:
    void OnDisabled() override;
    void OnEnabled() override;
    // Hooks for subclasses, called at the end of a successful enable and on disable.
    virtual void OnDeviceDisable();
    virtual void OnDeviceEnable();

private:
    std::atomic<uint32_t> m_vcxo_freq{100000000};
    std::atomic<uint64_t> m_vcxo_config_params{0};
};

} // namespace bmc

#endif

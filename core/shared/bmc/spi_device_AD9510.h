#ifndef BMC_SPI_DEVICE_AD9510_H
#define BMC_SPI_DEVICE_AD9510_H

// The AD9510 clock distribution chip with its PLL. Registers are reached by a two-word
// instruction (a write: address >> 8, address & 0xFF, value; a read: the first word with bit 7
// set, then one word received). Divider, power-down and configuration changes end with a write
// of 1 to the update register (90), which makes them active; single-register and serial-port
// control writes do not.
//
// The constructor loads the configuration table its creator gives (rows up to the first with
// address and value both 0; the table is not copied and must outlive the driver). A reset goes
// through the owner's hard-reset function when there is one and it succeeds, else through the
// chip's soft reset; the table is then loaded again.

#include <cstdint>
#include <functional>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/spi_device.h"

namespace bmc {

class BMC_API AD9510 : public SpiDevice {
public:
    struct ConfigurationItem {
        uint8_t register_address;
        uint8_t register_value;
    };

    enum tDivider : uint32_t { eDividerA = 0, eDividerB = 1, eDividerR = 2 };
    // Bits 0-1 of register 10; the board wrapper sets 2 for a running PLL and 1 for a stopped one.
    typedef uint32_t tPllPowerDown;

    static constexpr uint32_t c_serialControl = 0;
    static constexpr uint32_t c_pllPowerDown = 10;
    static constexpr uint32_t c_update = 90;

    // 8-bit words at 3125 kHz, sample edge set; then ReloadConfiguration. config may be null.
    AD9510(BusController& controller, const std::string& name, BusDeviceId id, const ConfigurationItem* config);
    ~AD9510() override;

    void GetRegister(uint32_t address, uint32_t& value);
    void SetRegister(uint32_t address, const uint32_t& value);
    // Register 0: bit 7, bit 6, bit 5 (soft reset), bit 4 (long instruction).
    void GetSpiControl(bool& bit7, bool& bit6, bool& bit5, bool& bit4);
    void SetSpiControl(bool bit7, bool bit6, bool bit5, bool bit4);
    void GetPllPowerDown(tPllPowerDown& mode);
    // Under the controller lock: read register 10, replace bits 0-1, write, update.
    void SetPllPowerDown(tPllPowerDown mode);
    // A: register 4 (6 bits); B: registers 5 (5 bits) and 6; R: registers 11 (6 bits) and 12.
    // Under the controller lock; a code above 2 reads nothing and leaves value, or writes only the
    // update register. Always true.
    bool GetDivider(const tDivider& divider, uint32_t& value);
    bool SetDivider(const tDivider& divider, const uint32_t& value);
    // Writes 1 to register 90.
    void Flush();
    // Under the controller lock: every table row, then the update.
    void ReloadConfiguration();
    void SetHardResetFnc(std::function<bool()> fnc);
    void SetPostInitFnc(std::function<bool()> fnc);
    // The hard reset (or, without one or when it fails, a soft-reset pulse); when register 0 then
    // reads bits 7-4 as 0, 0, 0, 1: ReloadConfiguration, the post-init function, true. Otherwise
    // "Serial communication with AD9510 could not be established correctly after reset." and
    // false.
    bool Reset();
    // True when register 0 shows a working link (bits 7 and 6 clear, bit 4 set), also after
    // writing it once more; otherwise Reset.
    bool AssureCommunication();

private:
    const ConfigurationItem* m_config;
    std::function<bool()> m_hard_reset_fnc;
    std::function<bool()> m_post_init_fnc;
};

} // namespace bmc

#endif

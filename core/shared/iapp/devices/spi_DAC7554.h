#ifndef IAPP_DEVICES_SPI_DAC7554_H
#define IAPP_DEVICES_SPI_DAC7554_H

// The DAC7554 quad 12-bit DAC on an SPI bus. Nodes under the wrapper's node, for outputs 0 to 3:
//   "channel_N/value"            uint32 in [0, 4095] (flags 6): the output's value, as last
//                                written (the chip is not read back)
//   "channel_N/power_down_mode"  "HiZ", "1K", "100K" or "Off" (flags 6); "Off" is normal
//                                operation and writes the output's value again; the chip's
//                                power-down modes are refused with the driver's "Invalid power
//                                down option <n>"
// Every output starts at 0 in "Off": the driver writes 0 to each when the wrapper is made.
//
// A channel's Set, and the wrapper's Set(channel, value), go through "value" once the registry
// is defined (validation and notification as for a client; a refusal throws with the node's
// prefix) and straight to the driver before. Either way a value above 4095 is refused whole,
// never cut to 12 or 16 bits: "Specified value 70000 is out of range", nothing sent.

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "bmc/spi_device_DAC7554.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_spi_bus_controller.h"
#include "iapp/kavrel_spi_bus_device.h"
#include "istd/enum_map.h"
#include "mci/types.h"

namespace iapp {

// One output of the DAC and its two nodes.
class IAPP_API DAC7554Channel {
public:
    // lock: the wrapper's, shared by its outputs (the driver keeps their values side by side).
    DAC7554Channel(bmc::DAC7554& driver, uint32_t channel, std::mutex& lock);
    ~DAC7554Channel();

    // The driver's result; a value above 4095 throws "Specified value <v> is out of range".
    bool SetValue(const uint32_t& value);
    bool GetValue(uint32_t& value) const;
    bool SetPowerDownMode(const bmc::DAC7554::PowerDownMode_e& mode);
    bool GetPowerDownMode(bmc::DAC7554::PowerDownMode_e& mode) const;

    // Through "value" when it exists, else SetValue.
    void Set(const uint32_t& value);

    // Adds "channel_<N>" with "value" and "power_down_mode" under parent.
    void AddReg(mci::TreeNodePtr parent);

private:
    bmc::DAC7554& m_driver;
    uint32_t m_channel;
    std::mutex& m_lock;
    mci::TreeNodePtr m_value;
    mci::TreeNodePtr m_powerDown;
};

class IAPP_API DAC7554 : public KavrelSpiBusDevice {
public:
    DAC7554(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id);
    ~DAC7554() override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // The output's Set; a channel above 3 throws "Invalid channel <n>" and writes nothing.
    void Set(uint32_t channel, const uint32_t& value);

private:
    bmc::DAC7554& m_driver;
    // The driver keeps each output's value and mode unguarded, and an output's two nodes have
    // locks of their own.
    std::mutex m_lock;
    std::array<DAC7554Channel, bmc::DAC7554::c_channels> m_channels;
    std::array<DAC7554Channel*, bmc::DAC7554::c_channels> m_table;
};

} // namespace iapp

ISTD_ENUM_TABLE_DECL(bmc::DAC7554::PowerDownMode_e)

#endif
